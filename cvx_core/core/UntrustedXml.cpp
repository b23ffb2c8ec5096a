namespace cvx
{

bool isSafeToDecodeAsBase64 (const juce::String& text)
{
    const auto dot = text.indexOfChar ('.');
    if (dot < 0)
        return true;

    const auto count = text.substring (0, dot);
    if (dot > 10 || ! count.containsOnly ("0123456789"))
        return false;

    const auto characters = (juce::int64) (text.length() - dot - 1);
    return count.getLargeIntValue() * 8 <= characters * 6;
}

namespace
{
    /** True when a zero-terminated XML text holds no declaration but the XML header and nests
        no deeper than the limit. Counted without parsing, skipping comments, CDATA, processing
        instructions and quoted attribute values. Unterminated constructs are let through:
        they cannot nest any deeper, and the parser refuses them. */
    bool isPlainXmlWithinDepth (const char* text, int limit)
    {
        const auto skipPast = [] (const char* p, const char* terminator) -> const char*
        {
            const auto* end = std::strstr (p, terminator);
            return end == nullptr ? nullptr : end + std::strlen (terminator) - 1;
        };

        int depth = 0;
        for (const char* p = text; *p != 0; ++p)
        {
            if (*p != '<')
                continue;

            if (std::strncmp (p, "<!--", 4) == 0)
                p = skipPast (p + 4, "-->");
            else if (std::strncmp (p, "<![CDATA[", 9) == 0)
                p = skipPast (p + 9, "]]>");
            else if (p[1] == '!')
                return false;
            else if (p[1] == '?')
                p = skipPast (p + 1, ">");
            else if (p[1] == '/')
            {
                --depth;
                p = skipPast (p + 1, ">");
            }
            else
            {
                if (++depth > limit)
                    return false;

                for (++p; *p != 0 && *p != '>'; ++p)
                {
                    if (*p == '"' || *p == '\'')
                    {
                        const char quote = *p;
                        while (*++p != 0 && *p != quote) {}
                        if (*p == 0)
                            return true;
                    }
                }

                if (*p == 0)
                    return true;
                if (p[-1] == '/')
                    --depth;
            }

            if (p == nullptr)
                return true;
        }
        return true;
    }

    /** Attributes named "base64:..." are decoded when the element becomes a value tree. */
    bool hasOnlySafeBase64Attributes (const juce::XmlElement& element)
    {
        for (int i = 0; i < element.getNumAttributes(); ++i)
            if (element.getAttributeName (i).startsWith ("base64:")
                && ! isSafeToDecodeAsBase64 (element.getAttributeValue (i)))
                return false;

        for (const auto* child : element.getChildIterator())
            if (! hasOnlySafeBase64Attributes (*child))
                return false;

        return true;
    }
} // namespace

std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* utf8, size_t numBytes, int maximumDepth)
{
    if ((utf8 == nullptr && numBytes > 0) || numBytes > (size_t) std::numeric_limits<int>::max() - 4)
        return {};

    // Copied with a zeroed tail, so that neither the checks nor the decoding of a multi-byte
    // sequence cut off by the end of the data read past the copy.
    juce::HeapBlock<char> text (numBytes + 4, true);
    if (numBytes > 0)
        std::memcpy (text.get(), utf8, numBytes);

    if (! juce::CharPointer_UTF8::isValidString (text.get(), (int) numBytes)
        || ! isPlainXmlWithinDepth (text.get(), maximumDepth))
        return {};

    auto xml = juce::parseXML (juce::String (juce::CharPointer_UTF8 (text.get())));
    if (xml == nullptr || ! hasOnlySafeBase64Attributes (*xml))
        return {};

    return xml;
}

} // namespace cvx

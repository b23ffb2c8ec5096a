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
    bool isNameStartCharacter (char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    }

    bool isNameCharacter (char c)
    {
        return isNameStartCharacter (c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    }

    /** The ';' that ends the character or entity reference whose '&' is at p ("&amp;",
        "&#233;", "&#xE9;"), or null when no complete reference starts there. */
    const char* findEndOfReference (const char* p)
    {
        using CharacterTest = bool (*) (char);
        const CharacterTest isDecimal = [] (char c) { return c >= '0' && c <= '9'; };
        const CharacterTest isHex = [] (char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };

        const char* start = p + 1;
        auto isPart = isNameCharacter;
        if (*start == '#')
        {
            const bool hex = start[1] == 'x' || start[1] == 'X';
            start += hex ? 2 : 1;
            isPart = hex ? isHex : isDecimal;
        }

        const char* end = start;
        while (isPart (*end))
            ++end;

        return end > start && *end == ';' ? end : nullptr;
    }

    bool isBlank (char c)
    {
        return c == ' ' || (c >= '\t' && c <= '\r');
    }

    const char* skipBlanks (const char* p)
    {
        while (isBlank (*p))
            ++p;
        return p;
    }

    /** The end of the XML name at p, or p itself when none starts there. A name starts with a
        letter, '_' or ':': the framework's parser reads "1a" or "-x" as names too, but its
        elements assert on them. */
    const char* skipName (const char* p)
    {
        if (! isNameStartCharacter (*p))
            return p;
        while (isNameCharacter (*p))
            ++p;
        return p;
    }

    /** Limits counted over a whole document. The parser grows an attribute value to its exact
        size at every character reference ("&amp;", "&#10;"), copying the whole value each
        time: a few references cost nothing, but a long value full of them takes minutes, so
        their count times the value's length is bounded over the document. */
    struct DocumentCounts
    {
        static constexpr juce::int64 maximumReferenceCost = 1 << 26;

        int depth = 0, elements = 0, attributes = 0;
        juce::int64 referenceCost = 0;
    };

    /** The closing quote of the attribute value whose opening quote is at p, or null when the
        text ends first, an '&' in it begins no complete reference, or its references cost too
        much. */
    const char* findEndOfQuotedValue (const char* p, DocumentCounts& counts)
    {
        const char* const valueStart = p;
        const char quote = *p;
        juce::int64 references = 0;
        while (*++p != quote)
        {
            if (*p == 0)
                return nullptr;

            if (*p == '&')
            {
                ++references;
                if ((p = findEndOfReference (p)) == nullptr)
                    return nullptr;
            }
        }

        counts.referenceCost += references * (juce::int64) (p - valueStart);
        return counts.referenceCost > DocumentCounts::maximumReferenceCost ? nullptr : p;
    }

    /** The '>' that ends the start tag whose '<' is at p, or null unless the tag has exactly
        the shape the framework's parser reads without an error: '<', a name, attributes
        written name="value" or name='value', then '>' or "/>", with blanks between.
        At anything else ("<;a", an attribute without '=', a value without quotes, a '<' or a
        byte beyond ASCII between the attributes) the parser records its error but reads on
        from the middle of the tag, as text and further elements: it then takes a '<' inside
        what was meant as a quoted value for the start of an element, whose name may be one
        the framework's elements assert on, and where it parts from this scan every other
        check here stops meaning anything. */
    const char* findEndOfStartTag (const char* p, DocumentCounts& counts)
    {
        const char* const nameStart = skipBlanks (p + 1);
        p = skipName (nameStart);
        if (p == nameStart)
            return nullptr;

        for (;;)
        {
            p = skipBlanks (p);
            if (*p == '>')
                return p;
            if (p[0] == '/' && p[1] == '>')
                return p + 1;

            const char* const attributeName = p;
            p = skipName (p);
            if (p == attributeName || *(p = skipBlanks (p)) != '=')
                return nullptr;

            p = skipBlanks (p + 1);
            if ((*p != '"' && *p != '\'') || ++counts.attributes > maximumUntrustedXmlAttributes)
                return nullptr;

            if ((p = findEndOfQuotedValue (p, counts)) == nullptr)
                return nullptr;
            ++p;
        }
    }

    /** True when a zero-terminated XML text holds no declaration but the XML header, nests no
        deeper than the limit and stays within the element and attribute counts. Counted
        without parsing, skipping comments, CDATA, processing instructions and quoted attribute
        values.
        The parser steps over the zero that ends its text when a character reference is cut
        off by it ("&#x59" at the very end), and it parses the name of an entity that starts
        with '<' as markup, in a string of its own that ends inside that markup. So every '&'
        in text and attribute values must begin a complete reference, the text may not end
        inside a comment, CDATA section, processing instruction, tag or quoted value, and every
        start tag must have the plain shape findEndOfStartTag accepts. */
    bool isPlainXmlWithinLimits (const char* text, int depthLimit)
    {
        const auto skipPast = [] (const char* p, const char* terminator) -> const char*
        {
            const auto* end = std::strstr (p, terminator);
            return end == nullptr ? nullptr : end + std::strlen (terminator) - 1;
        };

        DocumentCounts counts;
        for (const char* p = text; *p != 0; ++p)
        {
            if (*p == '&')
            {
                p = findEndOfReference (p);
                if (p == nullptr)
                    return false;
                continue;
            }

            if (*p != '<')
                continue;

            if (std::strncmp (p, "<!--", 4) == 0)
                p = skipPast (p + 4, "-->");
            else if (std::strncmp (p, "<![CDATA[", 9) == 0)
                p = skipPast (p + 9, "]]>");
            else if (p[1] == '!')
                return false;
            else if (p[1] == '?')
                p = skipPast (p + 1, "?>");   // the declaration, the only one let through
            else if (p[1] == '/')
            {
                --counts.depth;
                p = skipPast (p + 1, ">");
            }
            else
            {
                if (++counts.depth > depthLimit || ++counts.elements > maximumUntrustedXmlElements)
                    return false;

                p = findEndOfStartTag (p, counts);
                if (p != nullptr && p[-1] == '/')
                    --counts.depth;
            }

            if (p == nullptr)
                return false;
        }
        return true;
    }

    /** False when the text holds an over-long UTF-8 sequence ("\xC0\x80" for a zero, for
        example). The framework's string sizes its copy from the decoded characters but copies
        the raw bytes, so such a sequence would make it write past the end of its copy. */
    bool hasCanonicalLength (const char* text)
    {
        return juce::CharPointer_UTF8::getBytesRequiredFor (juce::CharPointer_UTF8 (text)) == std::strlen (text);
    }

    /** False when "<?" stands anywhere but as the XML declaration at the very first tag. The
        framework's parser loops forever on some processing instructions (one followed by text
        inside an element, for example), and it reads malformed attributes in its own way, so
        they are refused wherever they stand, inside attribute values and comments included:
        nothing this system writes holds one ('<' in a value is always escaped). */
    bool hasOnlyALeadingDeclaration (const char* text)
    {
        const char* const firstTag = std::strchr (text, '<');
        for (const char* p = std::strstr (text, "<?"); p != nullptr; p = std::strstr (p + 2, "<?"))
            if (p != firstTag || std::strncmp (p, "<?xml", 5) != 0 || ! juce::CharacterFunctions::isWhitespace (p[5]))
                return false;
        return true;
    }

    /** The name an attribute takes in a value tree: "base64:name" becomes "name". */
    juce::String treePropertyName (const juce::String& attributeName)
    {
        return attributeName.startsWith ("base64:") ? attributeName.substring (7) : attributeName;
    }

    /** False when an element, or one below it, names the same tree property twice. The
        attribute counts are bounded, so sorting each element's names costs little. */
    bool hasDistinctAttributes (const juce::XmlElement& element)
    {
        const int count = element.getNumAttributes();
        if (count > 1)
        {
            std::vector<juce::String> names;
            names.reserve ((size_t) count);
            for (int i = 0; i < count; ++i)
                names.push_back (treePropertyName (element.getAttributeName (i)));

            std::sort (names.begin(), names.end());
            if (std::adjacent_find (names.begin(), names.end()) != names.end())
                return false;
        }

        for (const auto* child : element.getChildIterator())
            if (! hasDistinctAttributes (*child))
                return false;

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
    if ((utf8 == nullptr && numBytes > 0) || numBytes > maximumUntrustedXmlBytes)
        return {};

    // Copied with a zeroed tail, so that neither the checks nor the decoding of a multi-byte
    // sequence cut off by the end of the data read past the copy.
    juce::HeapBlock<char> text (numBytes + 4, true);
    if (numBytes > 0)
        std::memcpy (text.get(), utf8, numBytes);

    if (! juce::CharPointer_UTF8::isValidString (text.get(), (int) numBytes)
        || ! hasCanonicalLength (text.get())
        || ! hasOnlyALeadingDeclaration (text.get())
        || ! isPlainXmlWithinLimits (text.get(), maximumDepth))
        return {};

    auto xml = juce::parseXML (juce::String (juce::CharPointer_UTF8 (text.get())));
    if (xml == nullptr || ! hasDistinctAttributes (*xml) || ! hasOnlySafeBase64Attributes (*xml))
        return {};

    return xml;
}

juce::String boundExponents (const juce::String& text)
{
    if (! text.containsAnyOf ("eE"))
        return text;

    constexpr int maximumDigits = 9;
    juce::String result;
    result.preallocateBytes (text.getNumBytesAsUTF8() + 1);

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        result += c;

        if (c != 'e' && c != 'E')
            continue;

        if (*p == '+' || *p == '-')
            result += p.getAndAdvance();

        const auto digits = p;
        int significant = 0;

        while (p.isDigit())
            if (p.getAndAdvance() != '0' || significant > 0)
                ++significant;

        if (significant > maximumDigits)
            result += "999999999";
        else
            result.appendCharPointer (digits, p);
    }

    return result;
}

double readNumber (const juce::String& text, juce::String* rest)
{
    const auto bounded = boundExponents (text);
    auto end = bounded.getCharPointer();
    const auto number = juce::CharacterFunctions::readDoubleValue (end);

    if (rest != nullptr)
        *rest = juce::String (end);

    return number;
}

double toNumber (const juce::var& value)
{
    return value.isString() ? readNumber (value.toString()) : (double) value;
}

} // namespace cvx

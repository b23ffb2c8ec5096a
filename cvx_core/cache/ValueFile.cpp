namespace cvx::cache
{

namespace
{
    /** False when the framework's Base64 decoder would size its block from a byte count the
        characters after the point cannot carry: it allocates that count before reading a
        character, so a damaged file ("-5.", "4000000000.") would throw or claim gigabytes.
        A text without a point is safe: the decoder refuses it untouched. */
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
} // namespace

juce::File ValueFile::getFileFor (const juce::String& name)
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("Application Support")
        .getChildFile ("Corvane")
        .getChildFile (name)
        .getChildFile (name)
        .withFileExtension ("data");
}

ValueFile::ValueFile (const juce::String& name)
    : CacheFile (getFileFor (name), name + " Resource Manager")
{
    getFile().getParentDirectory().createDirectory();

    fileLoader = [this] (const juce::File& source)
    {
        const auto encoded = source.loadFileAsString();
        if (! isSafeToDecodeAsBase64 (encoded))
            return false;

        juce::MemoryBlock bytes;
        bytes.fromBase64Encoding (encoded);

        const auto text = bytes.isEmpty() ? juce::String()
                                          : juce::String::fromUTF8 (static_cast<const char*> (bytes.getData()),
                                                                    (int) bytes.getSize());

        juce::XmlDocument document (text);
        const auto element = document.getDocumentElement (false);
        if (element == nullptr)
            return false;

        // Attributes named "base64:..." go through the same decoder when the set is filled.
        for (int i = 0; i < element->getNumAttributes(); ++i)
            if (element->getAttributeName (i).startsWith ("base64:")
                && ! isSafeToDecodeAsBase64 (element->getAttributeValue (i)))
                return false;

        clear();
        setFromXmlAttributes (*element);
        return true;
    };

    fileSaver = [this] (juce::File& target)
    {
        juce::XmlElement element ("Settings");
        copyToXmlAttributes (element);

        const auto text = element.toString();
        const auto encoded = juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()).toBase64Encoding();

        // Written beside the target and moved over it only when every byte arrived, so a
        // failed write never replaces the previous settings with a truncated file.
        juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);
        {
            juce::FileOutputStream out (temporary.getFile(), 16384);
            if (! out.openedOk())
                return false;

            const bool written = out.writeText (encoded, false, false, nullptr);
            out.flush();
            if (! written || out.getStatus().failed())
                return false;
        }

        // A short write (disk full, file size limit) leaves the stream's status clean, so
        // compare what actually reached the disk.
        if (temporary.getFile().getSize() != (juce::int64) encoded.getNumBytesAsUTF8())
            return false;

        return temporary.overwriteTargetFileWithTemporary();
    };

    reset = [this] { clear(); };
}

ValueFile::~ValueFile()
{
    // The save thread calls the saver, which reads the value set: stop it while the set exists.
    stopThread (5000);
    clear();
}

} // namespace cvx::cache

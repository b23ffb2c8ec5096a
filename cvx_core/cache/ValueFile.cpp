namespace cvx::cache
{

namespace
{
    /** The settings are one element; a file nested far deeper is not one of ours. */
    constexpr int maximumSettingsDepth = 64;
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
        // The Base64 form of the largest document the reader accepts: a byte count, a point and
        // one character per six bits. A larger file is not read at all.
        constexpr auto maximumFileSize = (juce::int64) (maximumUntrustedXmlBytes * 8 + 5) / 6 + 12;
        if (source.getSize() > maximumFileSize)
            return false;

        const auto encoded = source.loadFileAsString();
        if (! isSafeToDecodeAsBase64 (encoded))
            return false;

        juce::MemoryBlock bytes;
        bytes.fromBase64Encoding (encoded);

        // The settings are a single element; its "base64:..." attributes are checked too.
        const auto element = parseUntrustedXml (bytes.getData(), bytes.getSize(), maximumSettingsDepth);
        if (element == nullptr)
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

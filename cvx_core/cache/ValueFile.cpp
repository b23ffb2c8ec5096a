namespace cvx::cache
{

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
        juce::MemoryBlock bytes;
        bytes.fromBase64Encoding (source.loadFileAsString());

        const auto text = bytes.isEmpty() ? juce::String()
                                          : juce::String::fromUTF8 (static_cast<const char*> (bytes.getData()),
                                                                    (int) bytes.getSize());

        juce::XmlDocument document (text);
        const auto element = document.getDocumentElement (false);
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

            out.writeText (encoded, false, false, nullptr);
            out.flush();
            if (out.getStatus().failed())
                return false;
        }
        return temporary.overwriteTargetFileWithTemporary();
    };

    reset = [this] { clear(); };
}

ValueFile::~ValueFile()
{
    clear();
}

} // namespace cvx::cache

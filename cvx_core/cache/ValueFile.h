#pragma once

namespace cvx::cache
{

/** The per-user settings file: a set of named values stored as the Base64 text of an XML
    element "Settings" whose attributes are the values. It lives in the user application-data
    folder under "Application Support" / "Corvane" / <name>, in the file <name>.data. */
class ValueFile : public CacheFile,
                  public juce::NamedValueSet
{
public:
    /** name: the product name, used for the folder, the file and the save thread. */
    explicit ValueFile (const juce::String& name);
    ~ValueFile() override;

    /** The settings file of the given product name, without touching the disk. */
    static juce::File getFileFor (const juce::String& name);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ValueFile)
};

} // namespace cvx::cache

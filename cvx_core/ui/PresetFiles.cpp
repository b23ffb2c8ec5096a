namespace cvx::ui
{

namespace
{
    juce::File& factoryRoot()
    {
        static juce::File root;
        return root;
    }

    /** Text between elements has no equivalent in a value tree (the conversion asserts on it). */
    void removeTextElements (juce::XmlElement& element)
    {
        element.deleteAllTextElements();
        for (auto* child : element.getChildIterator())
            removeTextElements (*child);
    }

    /** A value from a preset file: a number, or the text of one. Anything else is no value. */
    std::optional<double> readNumber (const juce::var& value)
    {
        if (value.isDouble() || value.isInt() || value.isInt64() || value.isBool())
            return (double) value;

        if (value.isString())
        {
            const auto text = value.toString().trim();
            if (text.isNotEmpty() && text.containsOnly ("0123456789+-.eE"))
                return cvx::readNumber (text);
        }

        return std::nullopt;
    }

   #if JUCE_LINUX || JUCE_BSD
    /** The path of a trash record: every piece escaped, the separators kept. */
    juce::String escapePath (const juce::String& path)
    {
        juce::StringArray pieces;
        pieces.addTokens (path, "/", {});
        for (auto& piece : pieces)
            piece = juce::URL::addEscapeChars (piece, false);
        return pieces.joinIntoString ("/");
    }

    /** The freedesktop home trash, as the framework's own move to the trash finds it, but
        created when the user has none yet, and with the record a file manager needs to list
        and restore the file. */
    bool moveToHomeTrash (const juce::File& file)
    {
        const juce::File trash ("~/.local/share/Trash");
        const auto files = trash.getChildFile ("files");
        const auto info = trash.getChildFile ("info");
        if (files.createDirectory().failed() || info.createDirectory().failed())
            return false;

        juce::File target, record;
        for (int n = 1;; ++n)
        {
            const auto name = n == 1 ? file.getFileName()
                                     : file.getFileNameWithoutExtension() + " " + juce::String (n) + file.getFileExtension();
            target = files.getChildFile (name);
            record = info.getChildFile (name + ".trashinfo");
            if (! target.exists() && ! record.exists())
                break;
        }

        // The record comes first, so that a file in the trash always has one.
        const auto text = "[Trash Info]\nPath=" + escapePath (file.getFullPathName())
                        + "\nDeletionDate=" + juce::Time::getCurrentTime().formatted ("%Y-%m-%dT%H:%M:%S") + "\n";
        if (! record.replaceWithText (text, false, false, "\n"))
            return false;

        if (file.moveFileTo (target))
            return true;

        record.deleteFile();
        return false;
    }
   #endif
} // namespace

juce::File PresetFiles::getDirectory (bool user)
{
    const auto root = user || factoryRoot() == juce::File()
                          ? juce::File::getSpecialLocation (user ? juce::File::userApplicationDataDirectory
                                                                 : juce::File::commonApplicationDataDirectory)
                          : factoryRoot();

    const auto folder = root.getChildFile ("Audio").getChildFile ("Presets").getChildFile ("Corvane").getChildFile (CVX_PRODUCT_NAME);

    // The factory folder belongs to the installer: a plug-in running with the rights to do so
    // (a host started as root) must not leave folders in the machine's shared locations.
    if (user)
        folder.createDirectory();

    return folder;
}

void PresetFiles::setFactoryRoot (const juce::File& root)
{
    factoryRoot() = root;
}

juce::Array<juce::File> PresetFiles::findPresets (const juce::File& folder)
{
    auto files = folder.findChildFiles (juce::File::findFiles, false, wildcard);
    files.sort();
    return files;
}

juce::Array<juce::File> PresetFiles::findSubFolders (const juce::File& folder)
{
    auto folders = folder.findChildFiles (juce::File::findDirectories, false, "*");
    folders.sort();
    return folders;
}

juce::ValueTree PresetFiles::read (const juce::File& file)
{
    if (file == juce::File() || ! file.existsAsFile() || file.getSize() > maximumFileSize)
        return {};

    // Read at most one byte past the limit, whatever the size said: the file may have grown,
    // or be a device that never ends.
    juce::FileInputStream in (file);
    if (! in.openedOk())
        return {};

    juce::MemoryBlock bytes;
    in.readIntoMemoryBlock (bytes, (ssize_t) maximumFileSize + 1);
    if ((juce::int64) bytes.getSize() > maximumFileSize)
        return {};

    auto xml = parseUntrustedXml (bytes.getData(), bytes.getSize(), maximumDepth);
    if (xml == nullptr)
        return {};

    removeTextElements (*xml);
    return juce::ValueTree::fromXml (*xml);
}

bool PresetFiles::isStateTree (const juce::ValueTree& tree)
{
    return tree.isValid() && tree.getType().toString().equalsIgnoreCase (State::stateID.toString());
}

void PresetFiles::sanitiseParameters (juce::ValueTree& preset, juce::AudioProcessorValueTreeState& store)
{
    static const juce::Identifier idKey { "id" }, valueKey { "value" };

    auto parameters = preset.getChildWithName (State::parametersID);
    if (! parameters.isValid())
        return;

    juce::StringArray seen;
    for (int i = parameters.getNumChildren(); --i >= 0;)
    {
        // Walked from the end, so that of repeated entries the first one stays.
        auto child = parameters.getChild (i);
        const auto id = child.getProperty (idKey).toString();
        auto* parameter = store.getParameter (id);

        const bool repeated = [&]
        {
            for (int j = 0; j < i; ++j)
                if (parameters.getChild (j).getProperty (idKey).toString() == id)
                    return true;
            return false;
        }();

        if (parameter == nullptr || repeated)
        {
            parameters.removeChild (i, nullptr);
            continue;
        }

        if (! child.hasProperty (valueKey))
            continue;

        const auto number = readNumber (child.getProperty (valueKey));
        if (! number.has_value() || ! std::isfinite (*number))
        {
            child.removeProperty (valueKey, nullptr);
            continue;
        }

        const auto& range = parameter->getNormalisableRange();
        const auto clamped = juce::jlimit ((double) range.start, (double) range.end, *number);
        if (clamped != *number || ! child.getProperty (valueKey).isDouble())
            child.setProperty (valueKey, clamped, nullptr);
    }
}

bool PresetFiles::write (const juce::ValueTree& preset, const juce::File& target)
{
    const auto xml = preset.createXml();
    if (xml == nullptr || target == juce::File() || target.isDirectory())
        return false;

    target.getParentDirectory().createDirectory();

    const auto text = xml->toString();
    const auto numBytes = (juce::int64) text.getNumBytesAsUTF8();

    juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);
    {
        juce::FileOutputStream out (temporary.getFile(), 16384);
        if (! out.openedOk())
            return false;

        const bool written = out.write (text.toRawUTF8(), (size_t) numBytes);
        out.flush();
        if (! written || out.getStatus().failed())
            return false;
    }

    // A short write (disk full, file size limit) can leave the stream's status clean, so
    // compare what actually reached the disk.
    if (temporary.getFile().getSize() != numBytes)
        return false;

    return temporary.overwriteTargetFileWithTemporary();
}

bool PresetFiles::moveToTrash (const juce::File& file)
{
    if (! file.exists())
        return true;

   #if JUCE_LINUX || JUCE_BSD
    return moveToHomeTrash (file);
   #else
    return file.moveToTrash() && ! file.exists();
   #endif
}

juce::File PresetFiles::getCurrentPreset (const State& state)
{
    const auto text = state.attributes.getProperty (State::Attributes::preset).toString();

    // The framework would resolve "~" and relative paths against the home and working
    // folders (and assert); neither names a preset.
    if (text.isEmpty() || ! juce::File::isAbsolutePath (text) || text.startsWithChar ('~'))
        return {};

    return juce::File (text);
}

juce::String PresetFiles::makeSaveName (const juce::String& typed, juce::Time now)
{
    const auto name = typed.retainCharacters ("1234567890qwertyuiopasdfghjklzxcvbnmQWERTYUIOPASDFGHJKLZXCVBNM_- ").trim();
    if (name.isNotEmpty())
        return name;

    static const char* const months[] { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };

    return juce::StringArray { juce::String (now.getDayOfMonth()),
                               juce::translate (months[now.getMonth()]),
                               juce::String (now.getYear()),
                               juce::String (now.getHours()),
                               juce::String (now.getMinutes()),
                               juce::String (now.getSeconds()) }
        .joinIntoString ("-");
}

} // namespace cvx::ui

#pragma once

namespace cvx::ui
{

/** The storage side of the presets: the two preset folders, which files count as presets,
    reading a preset file that may come from anywhere, writing one without ever leaving a
    damaged file behind, and moving one to the user's trash. Message thread. */
struct PresetFiles
{
    /** The files listed and loaded as presets. Saving always writes ".preset". */
    static inline const juce::String wildcard { "*.preset;*.flavor" };
    static inline const juce::String extension { ".preset" };

    /** A preset is a few kilobytes; a file far larger is not one and is not read. */
    static constexpr juce::int64 maximumFileSize = 4 * 1024 * 1024;

    /** Preset trees are a handful of levels deep. */
    static constexpr int maximumDepth = 64;

    /** The user folder (true) or the factory folder (false): the user or the common
        application-data location, then "Audio", "Presets", the maker, the product. The user
        folder is created, with missing parents, on every call (whether that worked is not
        checked); the factory folder is the installer's and is never created here. */
    static juce::File getDirectory (bool user);

    /** Puts the factory folder under another root than the platform's common application-data
        location, which the environment cannot move. An empty file gives the platform's back. */
    static void setFactoryRoot (const juce::File& root);

    /** The preset files directly inside a folder, in the framework's file order. */
    static juce::Array<juce::File> findPresets (const juce::File& folder);

    /** The folders directly inside a folder, in the framework's file order. */
    static juce::Array<juce::File> findSubFolders (const juce::File& folder);

    /** The tree of a preset file, or an invalid tree when the file is missing, a folder,
        larger than maximumFileSize, or refused by the untrusted-XML reader. The root type is
        not examined here. */
    static juce::ValueTree read (const juce::File& file);

    /** True for a tree that may be applied as a preset: a root of type "State" in any case. */
    static bool isStateTree (const juce::ValueTree& tree);

    /** Makes the parameter values of a preset tree safe to hand to the host's parameters:
        values outside a parameter's range are clamped into it; values that are not numbers,
        or not finite, are removed (the parameter keeps its current value); entries for ids
        the store does not know, and repeated entries for one id, are removed. */
    static void sanitiseParameters (juce::ValueTree& preset, juce::AudioProcessorValueTreeState& store);

    /** Writes the tree as XML text through a temporary file beside the target that replaces
        it only when every byte was written: a failed write leaves the previous file, or no
        file, in place. Creates the target's folder when missing. True on success. */
    static bool write (const juce::ValueTree& preset, const juce::File& target);

    /** Moves a file to the user's trash. On Linux the freedesktop trash folders are created
        when missing, and the file gets the record that lets a file manager restore it.
        True when the file is gone from where it was. */
    static bool moveToTrash (const juce::File& file);

    /** The file named by the "preset" attribute, or an empty file when the text is not an
        absolute path (the attribute comes from stored host state, so it may hold anything). */
    static juce::File getCurrentPreset (const State& state);

    /** The name a preset is saved under: the typed text reduced to digits, ASCII letters,
        "_", "-" and space, then trimmed; when nothing is left, the local date and time as
        day-Mon-year-hour-minute-second (9-Dec-2026-6-5-7). */
    static juce::String makeSaveName (const juce::String& typed, juce::Time now);
};

} // namespace cvx::ui

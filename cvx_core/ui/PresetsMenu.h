#pragma once

namespace cvx::ui
{

/** The preset bar: the current preset's name (with "*" while it is edited) and the previous,
    random and next buttons. A click on the name opens the preset menu (factory presets, factory
    sub-folders, "User", "Save", "Delete"); "Save" turns the name into a text field and saves
    under the typed name, asking before it overwrites; "Delete" asks, then moves the file to the
    trash. It keeps the state's "dirty" mark while the preset is edited. Message thread. */
class PresetsMenu : public cvx::Component,
                    public juce::ValueTree::Listener
{
public:
    explicit PresetsMenu (State& state);
    ~PresetsMenu() override;

    //==============================================================================
    /** Rebuilds the flat preset list and returns the preset menu. */
    juce::PopupMenu getMenu();

    /** The options of every popup this bar shows: below the name, at least as wide as the
        span from the name to the bar's right end. */
    juce::PopupMenu::Options getPopupMenuOptions();

    /** Shows the current preset's name (or "Default") with "*" while it is edited. */
    void refreshLabel();

    /** Fits the menu button over the name's text. */
    void resizeMainButton();

    void paint (juce::Graphics&) override;
    void resized() override;

    //==============================================================================
    /** The user folder (true, created when missing) or the factory folder (false). */
    juce::File getDirectory (bool user) const;

    /** Lists one folder's presets into the flat list and into the menu; false when it held none. */
    bool addFolderToMenu (const juce::File& folder, juce::PopupMenu& menu);

    /** Applies a preset file and makes it the current preset. A file that is missing, too
        large, not XML, or whose tree is not a state tree (after the pre-load hook) loads
        nothing and changes nothing. */
    void loadPreset (const juce::File& file);

    /** Writes the current state to the file and loads it. A failed write changes nothing. */
    void savePreset (const juce::File& file);

    /** Moves a preset to the trash and drops it from the flat list; when it was the current
        preset, the one that followed it (or the new last one) is loaded. When the move fails,
        the list and the current preset stay as they were. */
    void deletePreset (const juce::File& file);

    /** The confirmation shown before deletePreset: a header naming the preset, "Delete", "Cancel". */
    juce::PopupMenu getDeleteMenu (const juce::File& file);

    /** The question shown before saving over an existing preset: a header, "Overwrite", "Cancel". */
    juce::PopupMenu getOverwriteMenu (const juce::File& file, const juce::String& name);

    /** Opens the save field: the name becomes editable, all of it selected. */
    void showSaveField();

    /** The save step run when the save field closes (not after Escape): saves under the
        label's text, reduced to the kept characters, or the date-and-time name. */
    void saveByName();

    void previous();
    void next();
    void random();

    const std::vector<juce::File>& getPresetList() const noexcept { return presets; }

    //==============================================================================
    /** Keeps "dirty": any change of a parameter or property marks the preset edited; a new
        "preset" clears the mark; a change of "dirty" refreshes the label. */
    void valueTreePropertyChanged (juce::ValueTree& changed, const juce::Identifier& property) override;

    /** A parameter the editor has just moved on its own, not at the user's hand: while the
        preset is clean, the parameter's current value counts as clean, so that writing it back
        into the state does not mark the preset edited. */
    void keepClean (const juce::String& parameterId);

    std::function<void (juce::ValueTree&)> preLoad;  // may change or replace the tree read from a file
    std::function<void()> preApply;                  // just before the tree is applied
    std::function<void()> postLoad;                  // at the end of a load

    juce::Random randomSource;
    juce::Label label;
    Button menuButton, previousButton, nextButton, randomButton;

private:
    /** Notices Escape in the save field before the label closes it. */
    struct EscapeWatcher : public juce::TextEditor::Listener
    {
        void textEditorEscapeKeyPressed (juce::TextEditor&) override { cancelled = true; }
        bool cancelled = false;
    };

    /** Keeps the normalised parameter values of the clean state (after a load, or when the bar
        opens on a clean state). */
    void rememberCleanValues();

    /** True for a parameter value that differs from the clean one only by the rounding of a
        round trip through the host or the parameter store (float and double, normalised and
        plain): not an edit. */
    bool isEcho (const juce::ValueTree& changed, const juce::Identifier& property) const;

    void showMenu (const juce::PopupMenu& menu);
    void paintIcon (juce::Graphics& g, Button& button, const juce::Drawable& icon);
    juce::Colour getHoverColour (float hoverValue) const;
    int indexOf (const juce::File& file) const;

    std::vector<juce::File> presets;
    std::unordered_map<juce::String, float> cleanValues;
    EscapeWatcher escapeWatcher;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetsMenu)
};

} // namespace cvx::ui

#pragma once

namespace cvx::ui
{

/** The strip along the top of the editor: on the left the logo button (a disc with the logo and
    the product name, with a dot when a newer version exists), whose press opens the main menu
    (version, web site, community chat, then the product's settings); on the right the preset
    bar. Message thread. */
class TopBar : public cvx::Component
{
public:
    explicit TopBar (State& state);
    ~TopBar() override;

    void resized() override;

    /** The product appends its settings section here; the menu already holds the main items and
        a separator. Called each time the main menu is built. */
    virtual void addSettingsToPopupMenu (juce::PopupMenu& menu);

    /** The main menu as the logo button shows it. */
    juce::PopupMenu getMainMenu();

    /** Builds the main menu and shows it below the bar. */
    void showMainMenu();

    /** Draws the logo button: disc, logo, name, and the new-version dot. */
    void paintLogo (juce::Graphics& g, Button& button);

    /** Repaints the logo when the new-version flag is not the one it last drew (the version
        check answers on a thread of its own). The buttons repaint themselves on hover. Called
        on every editor frame. */
    void repaintChanges();

    /** The logo button's bounds for a bar of the given size. */
    static juce::Rectangle<int> getLogoBounds (int width, int height);

    static inline const juce::String websiteAddress { "https://www.corvane.com" };
    static inline const juce::String communityAddress { "https://discord.gg/corvane" };

    /** Opens a web address in the default browser. Replaceable, so that tests never start one. */
    static inline std::function<void (const juce::URL&)> launchBrowser = [] (const juce::URL& url)
    {
        url.launchInDefaultBrowser();
    };

    Button logoButton;
    PresetsMenu presetsMenu;
    std::function<void (juce::PopupMenu&)> extraMenuHook;

    /** Whether a newer version exists: the shared version check's flag. Replaceable for tests. */
    std::function<bool()> isNewVersionAvailable;

private:
    bool drawnNewVersion = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TopBar)
};

} // namespace cvx::ui

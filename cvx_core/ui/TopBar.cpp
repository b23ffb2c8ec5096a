namespace cvx::ui
{

namespace
{
    constexpr float nameFontHeight = 28.0f;

    juce::Font nameFont()
    {
        return assets::fonts::Montserrat::Light.withHeight (nameFontHeight);
    }
} // namespace

TopBar::TopBar (State& s)
    : cvx::Component (s, "TopBar"),
      presetsMenu (s)
{
    isNewVersionAvailable = [this] { return state.versionManager->isNewVersionAvailable(); };

    logoButton.onClick = [this] { showMainMenu(); };
    logoButton.painter = [this] (juce::Graphics& g, Button& b) { paintLogo (g, b); };
    logoButton.animator.timerRate = 60.0f;
    logoButton.animator.riseTime = 60.0f;
    logoButton.animator.fallTime = 150.0f;
    logoButton.animator.on = true;

    addAndMakeVisible (logoButton);
    addAndMakeVisible (presetsMenu);
}

TopBar::~TopBar() = default;

void TopBar::addSettingsToPopupMenu (juce::PopupMenu&) {}

juce::Rectangle<int> TopBar::getLogoBounds (int width, int height)
{
    const auto w = std::max (width - 10, 0);
    const auto h = std::max (height - 10, 0);
    const auto t = nameFont().getStringWidthFloat (CVX_PRODUCT_NAME);
    const auto l = std::min (w, (int) (std::ceil (t) + 1.1 * h));
    return { 5, 5, l, h };
}

void TopBar::resized()
{
    const auto logo = getLogoBounds (getWidth(), getHeight());
    logoButton.setBounds (logo);

    const auto w = std::max (getWidth() - 10, 0);
    const auto h = std::max (getHeight() - 10, 0);
    presetsMenu.setBounds (logo.getWidth(), 0, w - logo.getWidth() + 10, h + 10);
}

juce::PopupMenu TopBar::getMainMenu()
{
    const bool newVersion = isNewVersionAvailable && isNewVersionAvailable();

    juce::PopupMenu menu;
    menu.setLookAndFeel (&getLookAndFeel());

    menu.addItem ("v" + VersionManager::currentVersion, false, false, nullptr);
    menu.addItem (newVersion ? "Website (New Version Available!)" : "Website", true, newVersion,
                  [] { launchBrowser (juce::URL (websiteAddress)); });
    menu.addItem ("Discord", true, false, [] { launchBrowser (juce::URL (communityAddress)); });
    menu.addSeparator();

    addSettingsToPopupMenu (menu);

    if (extraMenuHook)
        extraMenuHook (menu);

    return menu;
}

void TopBar::showMainMenu()
{
    getMainMenu().showMenuAsync (juce::PopupMenu::Options()
                                     .withPreferredPopupDirection (juce::PopupMenu::Options::PopupDirection::downwards)
                                     .withStandardItemHeight (28)
                                     .withMinimumWidth (getWidth() / 2)
                                     .withTargetComponent (this));
}

void TopBar::paintLogo (juce::Graphics& g, Button& button)
{
    const auto w = (float) button.getWidth();
    const auto h = (float) button.getHeight();
    const auto s = std::min (w, h);

    const auto c = State::Attributes::getColour (state).withRotatedHue (0.5f);

    const auto dw = std::max (s - 4.0f, 0.0f);
    const auto dh = std::max (h - 4.0f, 0.0f);
    g.setColour (c.withBrightness (0.8f));
    g.fillEllipse (2.0f, 2.0f, dw, dh);

    const auto side = 0.85f * dh;
    assets::svgs::logo().drawWithin (g, { 2.0f + (dw - side) / 2.0f, 2.0f + 0.075f * dh, side, side },
                                     juce::RectanglePlacement::centred, 1.0f);

    const auto v = button.animator.hoverValue;
    const auto alpha = v <= 0.0f ? 0 : v >= 1.0f ? 255 : juce::roundToInt (v * 255.0f);
    const auto textColour = juce::Colours::white.overlaidWith (c.withBrightness (1.0f).withAlpha ((juce::uint8) alpha));

    g.setColour (textColour);
    g.setFont (nameFont());
    const auto x = s + 0.1f * h;
    g.drawText (CVX_PRODUCT_NAME, juce::Rectangle<float> (x, 0.0f, std::max (w - x, 0.0f), h),
                juce::Justification::centredLeft, true);

    drawnNewVersion = isNewVersionAvailable && isNewVersionAvailable();
    if (drawnNewVersion)
        g.fillEllipse (0.0f, 0.0f, 6.0f, 6.0f);
}

void TopBar::repaintChanges()
{
    if ((isNewVersionAvailable && isNewVersionAvailable()) != drawnNewVersion)
        logoButton.repaint();
}

} // namespace cvx::ui

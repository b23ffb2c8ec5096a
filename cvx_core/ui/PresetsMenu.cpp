namespace cvx::ui
{

namespace
{
    constexpr float labelFontHeight = 28.0f;

    void setUpHover (Button& button)
    {
        button.animator.timerRate = 60.0f;
        button.animator.riseTime = 60.0f;
        button.animator.fallTime = 150.0f;
        button.animator.on = true;
    }

    /** An enabled sub-menu entry, also when the sub-menu is empty (the framework would grey
        out an empty one). */
    void addEnabledSubMenu (juce::PopupMenu& menu, const juce::String& name, juce::PopupMenu subMenu)
    {
        juce::PopupMenu::Item item (name);
        item.subMenu = std::make_unique<juce::PopupMenu> (std::move (subMenu));
        item.isEnabled = true;
        menu.addItem (std::move (item));
    }
} // namespace

PresetsMenu::PresetsMenu (State& s)
    : cvx::Component (s, "Presets"),
      randomSource (juce::Time::currentTimeMillis())
{
    label.setInterceptsMouseClicks (false, false);
    label.setFont (assets::fonts::Montserrat::Light.withHeight (labelFontHeight));
    label.setJustificationType (juce::Justification::centredRight);

    refreshLabel();

    const juce::Component::SafePointer<PresetsMenu> safe (this);

    menuButton.onClick = [safe]
    {
        if (safe != nullptr)
            safe->showMenu (safe->getMenu());
    };
    setUpHover (menuButton);

    previousButton.painter = [this] (juce::Graphics& g, Button& b) { paintIcon (g, b, assets::svgs::previous()); };
    previousButton.onClick = [this] { previous(); };
    setUpHover (previousButton);

    randomButton.painter = [this] (juce::Graphics& g, Button& b) { paintIcon (g, b, assets::svgs::random()); };
    randomButton.onClick = [this] { random(); };
    setUpHover (randomButton);

    nextButton.painter = [this] (juce::Graphics& g, Button& b) { paintIcon (g, b, assets::svgs::next()); };
    nextButton.onClick = [this] { next(); };
    setUpHover (nextButton);

    label.onEditorShow = [this]
    {
        if (auto* editor = label.getCurrentTextEditor())
        {
            if (editor->getJustificationType() != juce::Justification::centredRight)
                editor->setJustification (juce::Justification::centredRight);

            // Added after the label's own listener, so it hears Escape first.
            escapeWatcher.cancelled = false;
            editor->addListener (&escapeWatcher);
        }

        // The label lets clicks through to the menu button under it; the field must get them.
        label.setInterceptsMouseClicks (false, true);
    };

    label.onEditorHide = [this]
    {
        label.setInterceptsMouseClicks (false, false);

        if (escapeWatcher.cancelled)
        {
            escapeWatcher.cancelled = false;
            refreshLabel();
            return;
        }

        saveByName();
    };

    getMenu();

    // Values the host set since the store's last timer tick are written into its tree now,
    // before the bar listens, so that they are part of the clean state rather than edits.
    state.parameters.copyState();
    if (! (bool) state.attributes.getProperty (State::Attributes::dirty, false))
        rememberCleanValues();

    addAndMakeVisible (menuButton);
    addAndMakeVisible (label);
    addAndMakeVisible (previousButton);
    addAndMakeVisible (randomButton);
    addAndMakeVisible (nextButton);

    state.parameters.state.addListener (this);
    state.properties.addListener (this);
    state.attributes.addListener (this);
}

PresetsMenu::~PresetsMenu()
{
    state.parameters.state.removeListener (this);
    state.properties.removeListener (this);
    state.attributes.removeListener (this);
}

//==============================================================================
juce::File PresetsMenu::getDirectory (bool user) const
{
    return PresetFiles::getDirectory (user);
}

bool PresetsMenu::addFolderToMenu (const juce::File& folder, juce::PopupMenu& menu)
{
    const auto files = PresetFiles::findPresets (folder);
    if (files.isEmpty())
        return false;

    const auto current = PresetFiles::getCurrentPreset (state);
    const juce::Component::SafePointer<PresetsMenu> safe (this);

    for (const auto& file : files)
    {
        presets.push_back (file);
        menu.addItem (file.getFileNameWithoutExtension(), true, file == current, [safe, file]
        {
            if (safe != nullptr)
                safe->loadPreset (file);
        });
    }

    return true;
}

juce::PopupMenu PresetsMenu::getMenu()
{
    presets.clear();

    juce::PopupMenu menu;
    const auto factory = getDirectory (false);
    const auto user = getDirectory (true);

    if (factory.isDirectory())
    {
        if (addFolderToMenu (factory, menu))
            menu.addSeparator();

        for (const auto& folder : PresetFiles::findSubFolders (factory))
        {
            juce::PopupMenu subMenu;
            addFolderToMenu (folder, subMenu);
            addEnabledSubMenu (menu, folder.getFileNameWithoutExtension(), std::move (subMenu));
        }
    }

    if (user.isDirectory())
    {
        menu.addSeparator();
        juce::PopupMenu subMenu;
        addFolderToMenu (user, subMenu);
        addEnabledSubMenu (menu, "User", std::move (subMenu));
    }

    const juce::Component::SafePointer<PresetsMenu> safe (this);
    const auto current = PresetFiles::getCurrentPreset (state);

    menu.addSeparator();
    menu.addItem ("Save", true, false, [safe]
    {
        if (safe != nullptr)
            safe->showSaveField();
    });

    // Only a preset that sits directly in the user folder may be deleted.
    const bool deletable = current != juce::File() && current.getParentDirectory() == user;
    menu.addItem ("Delete", deletable, false, [safe, current]
    {
        if (safe != nullptr)
            safe->showMenu (safe->getDeleteMenu (current));
    });

    return menu;
}

juce::PopupMenu PresetsMenu::getDeleteMenu (const juce::File& file)
{
    const juce::Component::SafePointer<PresetsMenu> safe (this);

    juce::PopupMenu menu;
    menu.addSectionHeader ("Confirm Delete: " + file.getFileNameWithoutExtension());
    menu.addItem ("Delete", [safe, file]
    {
        if (safe != nullptr)
            safe->deletePreset (file);
    });
    menu.addItem ("Cancel", [] {});
    return menu;
}

juce::PopupMenu PresetsMenu::getOverwriteMenu (const juce::File& file, const juce::String& name)
{
    const juce::Component::SafePointer<PresetsMenu> safe (this);

    juce::PopupMenu menu;
    menu.addSectionHeader ("Preset Already Exists: " + name);
    menu.addItem ("Overwrite", [safe, file]
    {
        if (safe != nullptr)
            safe->savePreset (file);
    });
    menu.addItem ("Cancel", [] {});
    return menu;
}

void PresetsMenu::showMenu (const juce::PopupMenu& menu)
{
    auto copy = menu;
    copy.setLookAndFeel (&getLookAndFeel());
    copy.showMenuAsync (getPopupMenuOptions());
}

juce::PopupMenu::Options PresetsMenu::getPopupMenuOptions()
{
    const auto screen = getScreenBounds();
    const auto x0 = menuButton.getScreenPosition().x;

    return juce::PopupMenu::Options()
        .withPreferredPopupDirection (juce::PopupMenu::Options::PopupDirection::downwards)
        .withStandardItemHeight (28)
        .withTargetScreenArea ({ x0, screen.getY(), std::max (screen.getRight() - x0, 0), screen.getHeight() })
        .withMinimumWidth (getWidth() - menuButton.getX());
}

//==============================================================================
void PresetsMenu::loadPreset (const juce::File& file)
{
    if (file == juce::File() || ! file.existsAsFile())
        return;

    auto preset = PresetFiles::read (file);
    if (! preset.isValid())
        return;

    if (preLoad)
        preLoad (preset);

    // Any other root would clear the product's switches and still become the current preset.
    if (! PresetFiles::isStateTree (preset))
        return;

    PresetFiles::sanitiseParameters (preset, state.parameters);

    if (preApply)
        preApply();

    state.fromPreset (preset);

    // The parameter store writes back the values its parameters hold on its next timer tick;
    // those that do not round-trip exactly (550 Hz comes back as 549.99994) would mark the
    // fresh preset edited half a second later. Flushing now lets the mark be cleared after them.
    state.parameters.copyState();
    rememberCleanValues();

    state.attributes.setProperty (State::Attributes::preset, file.getFullPathName(), nullptr);
    state.attributes.setProperty (State::Attributes::dirty, false, nullptr);

    file.setLastAccessTime (juce::Time::getCurrentTime());

    refreshLabel();

    if (postLoad)
        postLoad();
}

void PresetsMenu::savePreset (const juce::File& file)
{
    const bool existed = file.existsAsFile();

    if (! PresetFiles::write (state.toPreset(), file))
        return;

    const auto now = juce::Time::getCurrentTime();
    if (! existed)
        file.setCreationTime (now);
    file.setLastModificationTime (now);

    getMenu();
    loadPreset (file);
}

void PresetsMenu::deletePreset (const juce::File& file)
{
    if (file == juce::File() || ! file.existsAsFile())
        return;

    const auto current = PresetFiles::getCurrentPreset (state);

    // Only a file that really left its folder leaves the list; otherwise it would vanish from
    // the menu now and come back at the next rebuild.
    if (! PresetFiles::moveToTrash (file))
        return;

    const auto r = indexOf (file);
    if (r >= 0)
        presets.erase (presets.begin() + r);

    if (file == current && r >= 0 && ! presets.empty())
        loadPreset (presets[(size_t) (r < (int) presets.size() ? r : r - 1)]);
    else
        refreshLabel();
}

//==============================================================================
void PresetsMenu::showSaveField()
{
    label.showEditor();
    if (auto* editor = label.getCurrentTextEditor())
        editor->selectAll();
}

void PresetsMenu::saveByName()
{
    const auto name = PresetFiles::makeSaveName (label.getText(), juce::Time::getCurrentTime());
    const auto file = getDirectory (true).getChildFile (name + PresetFiles::extension);

    if (! file.existsAsFile())
        savePreset (file);
    else
        showMenu (getOverwriteMenu (file, name));
}

int PresetsMenu::indexOf (const juce::File& file) const
{
    for (size_t i = 0; i < presets.size(); ++i)
        if (presets[i] == file)
            return (int) i;
    return -1;
}

void PresetsMenu::previous()
{
    if (presets.empty())
        return;

    const auto i = indexOf (PresetFiles::getCurrentPreset (state));
    if (i < 0)
        loadPreset (presets.front());
    else
        loadPreset (presets[(size_t) (i == 0 ? (int) presets.size() - 1 : i - 1)]);
}

void PresetsMenu::next()
{
    if (presets.empty())
        return;

    const auto i = indexOf (PresetFiles::getCurrentPreset (state));
    if (i < 0)
        loadPreset (presets.back());
    else
        loadPreset (presets[(size_t) (i + 1 == (int) presets.size() ? 0 : i + 1)]);
}

void PresetsMenu::random()
{
    if (presets.empty())
        return;

    if (presets.size() == 1)
        loadPreset (presets.front());
    else
        loadPreset (presets[(size_t) randomSource.nextInt ((int) presets.size())]);
}

//==============================================================================
void PresetsMenu::refreshLabel()
{
    const bool dirty = (bool) state.attributes.getProperty (State::Attributes::dirty, false);
    const auto file = PresetFiles::getCurrentPreset (state);
    const auto name = file.existsAsFile() ? file.getFileNameWithoutExtension() : juce::String ("Default");

    label.setText (dirty ? name + "*" : name, juce::dontSendNotification);
    resizeMainButton();
}

void PresetsMenu::resizeMainButton()
{
    const auto font = assets::fonts::Montserrat::Light.withHeight (labelFontHeight);
    const auto t = (int) std::ceil (font.getStringWidthFloat (label.getText()));
    const auto b = std::max (t + 10, randomButton.getWidth());

    menuButton.setBounds (label.getRight() - b, label.getY(), std::max (b, 0), label.getHeight());
}

void PresetsMenu::resized()
{
    auto area = juce::Rectangle<int> (5, 5, std::max (getWidth() - 10, 0), std::max (getHeight() - 10, 0));
    const auto h = area.getHeight();

    for (auto* button : { &nextButton, &randomButton, &previousButton })
    {
        const auto s = std::min (area.getWidth(), h);
        area.removeFromRight (s);
        button->setBounds (10 + area.getWidth(), 10, std::max (s - 10, 0), std::max (h - 10, 0));
    }

    label.setBounds (5, 5, area.getWidth(), h);
    resizeMainButton();
}

juce::Colour PresetsMenu::getHoverColour (float hoverValue) const
{
    const auto c = State::Attributes::getColour (state).withRotatedHue (0.5f).withBrightness (1.0f);
    const auto alpha = hoverValue <= 0.0f ? 0 : hoverValue >= 1.0f ? 255 : juce::roundToInt (hoverValue * 255.0f);
    return juce::Colours::white.overlaidWith (c.withAlpha ((juce::uint8) alpha));
}

void PresetsMenu::paint (juce::Graphics&)
{
    label.setColour (juce::Label::textColourId, getHoverColour (menuButton.animator.hoverValue));
}

void PresetsMenu::paintIcon (juce::Graphics& g, Button& button, const juce::Drawable& icon)
{
    auto copy = icon.createCopy();
    copy->replaceColour (juce::Colours::white, getHoverColour (button.animator.hoverValue));
    copy->drawWithin (g, button.getLocalBounds().toFloat(), juce::RectanglePlacement::centred, 1.0f);
}

//==============================================================================
namespace
{
    const juce::Identifier parameterIdKey { "id" }, parameterValueKey { "value" };

    /** Float rounding of one normalised value is below 1e-7; a real edit moves far more. */
    constexpr float echoTolerance = 1.0e-6f;
}

void PresetsMenu::rememberCleanValues()
{
    cleanValues.clear();
    for (const auto& child : state.parameters.state)
        if (auto* parameter = state.parameters.getParameter (child.getProperty (parameterIdKey).toString()))
            cleanValues[parameter->paramID] = parameter->convertTo0to1 ((float) toNumber (child.getProperty (parameterValueKey)));
}

void PresetsMenu::keepClean (const juce::String& parameterId)
{
    if ((bool) state.attributes.getProperty (State::Attributes::dirty, false))
        return;

    if (auto* parameter = state.parameters.getParameter (parameterId))
        cleanValues[parameter->paramID] = parameter->getValue();
}

bool PresetsMenu::isEcho (const juce::ValueTree& changed, const juce::Identifier& property) const
{
    if (property != parameterValueKey || changed.getParent() != state.parameters.state)
        return false;

    auto* parameter = state.parameters.getParameter (changed.getProperty (parameterIdKey).toString());
    if (parameter == nullptr)
        return false;

    const auto clean = cleanValues.find (parameter->paramID);
    return clean != cleanValues.end()
        && std::abs (parameter->convertTo0to1 ((float) toNumber (changed.getProperty (parameterValueKey))) - clean->second) < echoTolerance;
}

void PresetsMenu::valueTreePropertyChanged (juce::ValueTree& changed, const juce::Identifier& property)
{
    if (changed.getType() != State::attributesID)
    {
        // The host and the parameter store hand values back with float rounding some time
        // after a load; those would mark a preset edited that nobody touched.
        if (isEcho (changed, property))
            return;

        state.attributes.setProperty (State::Attributes::dirty, true, nullptr);
        return;
    }

    if (property == State::Attributes::dirty)
        refreshLabel();
    else if (property == State::Attributes::preset)
        state.attributes.setProperty (State::Attributes::dirty, false, nullptr);
}

} // namespace cvx::ui

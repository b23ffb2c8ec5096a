namespace cvx::ui
{

namespace
{
    constexpr float pickerHueOffset = 0.15f;

    float wrapHue (float hue)
    {
        hue -= std::floor (hue);
        return hue;
    }
} // namespace

ColourPicker::ColourPicker (juce::ValueTree& tree, const juce::Identifier& key, int idealHeight)
    : juce::PopupMenu::CustomComponent (false),
      hueOffset (pickerHueOffset),
      height (idealHeight)
{
    onColour = [tree, key] (const juce::Colour& colour) mutable
    {
        tree.setProperty (key, colour.toString(), nullptr);
    };
}

ColourPicker::~ColourPicker() = default;

juce::Colour ColourPicker::colourAt (int x, int w)
{
    const auto hue = w > 0 ? (float) x / (float) w + pickerHueOffset : pickerHueOffset;
    return juce::Colour::fromHSV (wrapHue (hue), 0.75f, 0.5f, 1.0f);
}

void ColourPicker::mouseDown (const juce::MouseEvent& e)
{
    if (onColour)
        onColour (colourAt (e.getPosition().x, getWidth()));

    if (auto* top = getTopLevelComponent())
        top->repaint();
}

void ColourPicker::mouseDrag (const juce::MouseEvent& e)
{
    mouseDown (e);
}

void ColourPicker::paint (juce::Graphics& g)
{
    const auto w = std::max (getWidth() - 2, 0);
    const auto h = std::max (getHeight() - 4, 0);

    juce::Path clip;
    clip.addRoundedRectangle (1.0f, 2.0f, (float) w, (float) h, 4.0f);
    g.reduceClipRegion (clip);

    if (h <= 0)
        return;

    for (int i = 1; i < w + 1; ++i)
    {
        const auto hue = wrapHue ((float) i / (float) w + hueOffset);
        g.setColour (juce::Colour::fromHSV (hue, 0.75f, 0.5f, 1.0f).withBrightness (0.85f));
        g.fillRect (i, 2, 1, h);
    }
}

void ColourPicker::getIdealSize (int&, int& idealHeight)
{
    idealHeight = height;
}

} // namespace cvx::ui

namespace cvx::style
{

LookAndFeel::LookAndFeel (State& s) : state (s)
{
}

LookAndFeel::~LookAndFeel() = default;

double LookAndFeel::getScale() const
{
    const auto& stored = state.attributes[State::Attributes::scale];
    if (stored.isVoid())
        return 1.0;

    // The value comes from a saved project: anything unusable falls back to 1, and extreme
    // values are kept to sizes a menu can still show.
    const double scale = toNumber (stored);
    if (! std::isfinite (scale) || scale <= 0.0)
        return 1.0;

    return juce::jlimit (0.25, 4.0, scale);
}

void LookAndFeel::drawPopupMenuBackgroundWithOptions (juce::Graphics& g, int, int,
                                                      const juce::PopupMenu::Options&)
{
    g.fillAll (juce::Colours::black);
}

int LookAndFeel::getMenuWindowFlags()
{
    return juce::ComponentPeer::windowHasDropShadow;
}

void LookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                                     bool isSeparator, bool isActive, bool isHighlighted,
                                     bool isTicked, bool hasSubMenu, const juce::String& text,
                                     const juce::String&, const juce::Drawable* icon,
                                     const juce::Colour*)
{
    const auto theme = State::Attributes::getColour (state);
    const double scale = getScale();

    const int x = area.getX(), y = area.getY(), w = area.getWidth();
    const int h = std::max (0, area.getHeight());

    if (isSeparator)
    {
        g.setColour (theme.withBrightness (0.4f));
        g.fillRect (x + 5, y + std::min (h, juce::roundToInt (h * 0.5 - 0.5)), std::max (w - 10, 0), 1);
        return;
    }

    const int atSign = text.indexOfChar ('@');
    const auto leftText = atSign < 0 ? text : text.substring (0, atSign);
    const auto rightText = atSign < 0 ? juce::String() : text.substring (atSign + 1);

    const juce::Rectangle<int> inner (x + 1, y + 1, std::max (w - 2, 0), std::max (h - 2, 0));
    const auto secondary = theme.withBrightness (0.85f);

    juce::Colour textColour = juce::Colours::white;
    if (! isActive)
    {
        textColour = secondary;
    }
    else if (isHighlighted)
    {
        g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0xcc));
        g.fillRoundedRectangle (inner.toFloat(), 4.0f);
        textColour = juce::Colours::black;
    }

    const float heightLimit = (float) inner.getHeight() / 1.3f;
    const float mainHeight = std::min ((float) (20.0 * scale), heightLimit);
    const auto mainFont = assets::fonts::Montserrat::Regular.withHeight (mainHeight);
    g.setFont (mainFont);

    const int inset = std::min (w / 10, 5);
    juce::Rectangle<int> textArea (inner.getX() + inset, inner.getY(),
                                   std::max (inner.getWidth() - 2 * inset, 0), inner.getHeight());

    // The gutter is kept on every item so that names line up whether ticked or not.
    const auto gutter = textArea.removeFromLeft (juce::roundToInt (inner.getHeight() / 1.3));

    if (icon != nullptr)
    {
        icon->drawWithin (g, gutter.toFloat(),
                          juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize,
                          1.0f);
        textArea.removeFromLeft (juce::roundToInt (inner.getHeight() / 1.3 * 0.5));
    }
    else if (isTicked)
    {
        const float diameter = 0.4f * (float) std::min (gutter.getWidth(), inner.getHeight());
        g.setColour (secondary);
        g.fillEllipse (juce::Rectangle<float> (diameter, diameter).withCentre (gutter.toFloat().getCentre()));
    }

    g.setColour (textColour);

    if (hasSubMenu)
    {
        const float a = 0.6f * getPopupMenuFont().getAscent();
        const int n = std::min (textArea.getWidth(), (int) a);
        const float arrowX = (float) (textArea.getRight() - n);
        const float centreY = (float) (inner.getY() + inner.getHeight() / 2);

        juce::Path arrow;
        arrow.startNewSubPath (arrowX, centreY - a * 0.5f);
        arrow.lineTo (arrowX + 0.6f * a, centreY);
        arrow.lineTo (arrowX, centreY + a * 0.5f);
        g.strokePath (arrow, juce::PathStrokeType (1.0f, juce::PathStrokeType::mitered,
                                                   juce::PathStrokeType::butt));

        textArea.removeFromRight (n);
        textArea.removeFromRight (3);
    }

    textArea.removeFromRight (3);

    if (rightText.isEmpty())
    {
        g.drawFittedText (leftText, textArea, juce::Justification::centredLeft, 1);
        return;
    }

    const auto detailFont = assets::fonts::Montserrat::SemiBold.withHeight (0.8f * mainHeight)
                                                               .withHorizontalScale (0.95f);
    const int detailWidth = std::min (textArea.getWidth(),
                                      (int) std::ceil (detailFont.getStringWidthFloat (rightText)));
    auto detailArea = textArea.removeFromRight (detailWidth);

    g.drawFittedText (leftText, textArea, juce::Justification::centredLeft, 1);

    g.setFont (detailFont);
    g.setColour (secondary);
    g.drawText (rightText, detailArea, juce::Justification::centredRight, true);
}

void LookAndFeel::drawLinearSlider (juce::Graphics&, int, int, int, int, float, float, float,
                                    const juce::Slider::SliderStyle, juce::Slider&)
{
}

void LookAndFeel::drawRotarySlider (juce::Graphics&, int, int, int, int, float, float, float,
                                    juce::Slider&)
{
}

juce::TextLayout LookAndFeel::layoutTooltip (const juce::String& text) const
{
    const double scale = getScale();
    const float height = juce::jlimit (0.1f, 10000.0f, (float) (26.0 * scale));

    juce::AttributedString s;
    s.setJustification (juce::Justification::centred);
    s.setWordWrap (juce::AttributedString::byWord);
    s.append (text, juce::Font (height, juce::Font::bold), findColour (juce::TooltipWindow::textColourId));

    juce::TextLayout layout;
    layout.createLayoutWithBalancedLineLengths (s, (float) (int) (800.0 * scale));
    return layout;
}

juce::Rectangle<int> LookAndFeel::getTooltipBounds (const juce::String& tipText, juce::Point<int> screenPos,
                                                    juce::Rectangle<int> parentArea)
{
    const double scale = getScale();
    const auto layout = layoutTooltip (tipText);

    const int w = (int) (layout.getWidth() + 28.0 * scale);
    const int h = (int) (layout.getHeight() + 12.0 * scale);

    return juce::Rectangle<int> (screenPos.x > parentArea.getCentreX() ? screenPos.x - (w + 12) : screenPos.x + 24,
                                 screenPos.y > parentArea.getCentreY() ? screenPos.y - (h + 6) : screenPos.y + 6,
                                 w, h)
        .constrainedWithin (parentArea);
}

void LookAndFeel::drawTooltip (juce::Graphics& g, const juce::String& text, int width, int height)
{
    g.setColour (juce::Colours::black);
    g.fillRect (0, 0, width, height);
    layoutTooltip (text).draw (g, juce::Rectangle<float> ((float) width, (float) height));
}

} // namespace cvx::style

#pragma once

namespace cvx::assets::svgs
{

/** The embedded vector icons, each parsed on first use and shared until the framework shuts
    down. Draw them (drawWithin is const) or take a createCopy() to recolour; do not keep the
    reference beyond the editor's life.
    The three preset arrows are drawn as white strokes so that a painter can recolour white. */
const juce::Drawable& logo();
const juce::Drawable& previous();
const juce::Drawable& random();
const juce::Drawable& next();

/** The SVG document text of each icon, as embedded. */
juce::String logoSvg();
juce::String previousSvg();
juce::String randomSvg();
juce::String nextSvg();

} // namespace cvx::assets::svgs

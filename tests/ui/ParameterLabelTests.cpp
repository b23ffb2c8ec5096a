#include "UiTestSupport.h"

namespace vyx::test
{
namespace
{

struct LabelFixture : UiFixture
{
    explicit LabelFixture (const juce::String& id) : binding (state, id)
    {
        label.setSize (120, 30);
        label.parameter = &binding;
        label.onClose = [this] { ++closes; };
        window = std::make_unique<HeadlessWindow> (label);   // a text editor needs to be showing
    }

    ~LabelFixture()
    {
        label.onClose = nullptr;
        if (label.label.getCurrentTextEditor() != nullptr)
            label.label.hideEditor (true);
        window.reset();
    }

    juce::TextEditor* editor() { return label.label.getCurrentTextEditor(); }

    /** Presses a key in the open editor and lets the label react (the editor posts keys). */
    void press (int keyCode)
    {
        ASSERT_NE (editor(), nullptr);
        editor()->keyPressed (juce::KeyPress (keyCode));
        runMessageLoopUntil ([this] { return editor() == nullptr; }, 1000);
    }

    /** Opens entry, puts the text in the editor as a finished edit and confirms it with Return. */
    void enter (const juce::String& text)
    {
        label.open();
        ASSERT_NE (editor(), nullptr);
        editor()->setText (text, false);
        press (juce::KeyPress::returnKey);
    }

    cvx::AudioParameter binding;
    cvx::ui::ParameterLabel label;
    std::unique_ptr<HeadlessWindow> window;
    int closes = 0;
};

TEST (ParameterLabelTests, ShowsTheValueWithOneDecimalAndTheUnit)
{
    struct Case { const char* id; float plain; const char* unit; const char* expected; };
    const Case cases[] = {
        { "THD0", -8.0f, " dB", "-8.0 dB" },
        { "CR0", 2500.0f, " Hz", "2500.0 Hz" },
        { "MIX", 100.0f, " %", "100.0 %" },
        { "IN", 0.0f, "", "0.0" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.id);
        LabelFixture f (c.id);
        setPlain (f.state, c.id, c.plain);
        f.binding.pull();
        f.label.unit = c.unit;
        f.label.refreshInternal();

        EXPECT_EQ (f.label.label.getText(), c.expected);
        EXPECT_NEAR (f.label.lastShown, c.plain, std::abs (c.plain) * 1.0e-5f + 1.0e-5f);
    }
}

TEST (ParameterLabelTests, ShowsThroughValueToTextWhenSet)
{
    LabelFixture f ("THD0");
    f.label.unit = " dB";
    f.label.valueToText = [] (float v) { return "<" + juce::String (juce::roundToInt (v)) + ">"; };
    f.label.refreshInternal();
    EXPECT_EQ (f.label.label.getText(), "<-8> dB");
}

TEST (ParameterLabelTests, LabelIsSetUpAsAWhiteCentredLineThatTakesNoClicks)
{
    LabelFixture f ("IN");
    auto& l = f.label.label;
    bool self = true, children = true;
    l.getInterceptsMouseClicks (self, children);
    EXPECT_FALSE (self);
    EXPECT_FALSE (children);
    EXPECT_EQ (l.findColour (juce::Label::textColourId), juce::Colours::white);
    EXPECT_EQ (l.findColour (juce::Label::backgroundColourId), juce::Colours::transparentBlack);
    EXPECT_EQ (l.getJustificationType(), juce::Justification::centred);
    EXPECT_EQ (l.getFont().getTypefaceName(), "Montserrat");
    EXPECT_EQ (l.getFont().getTypefaceStyle(), "Bold");
    EXPECT_FLOAT_EQ (l.getFont().getHeight(), 20.0f);
    EXPECT_EQ (l.getBounds(), f.label.getLocalBounds());
}

TEST (ParameterLabelTests, WheelMovesTheNormalisedValueAsOneGesture)
{
    struct Case { float start; float deltaY; bool reversed, shift; float expected; };
    const Case cases[] = {
        { 0.5f, 1.0f, false, false, 0.5f + 0.1f },
        { 0.5f, -1.0f, false, false, 0.5f - 0.1f },
        { 0.5f, 1.0f, true, false, 0.5f - 0.1f },
        { 0.5f, 1.0f, false, true, 0.5f + 0.01f },
        { 0.5f, 0.25f, false, true, 0.5f + 0.0025f },
        { 0.5f, -2.0f, true, true, 0.5f + 0.02f },
        { 0.95f, 1.0f, false, false, 1.0f },   // held at the ends
        { 0.02f, -1.0f, false, false, 0.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.start) + " " + juce::String (c.deltaY) + (c.reversed ? " reversed" : "") + (c.shift ? " shift" : ""));
        LabelFixture f ("MIX");
        auto& host = f.hostParameter ("MIX");
        host.setValueNotifyingHost (c.start);
        f.binding.pull();

        HostParameterLog log (host);
        juce::MouseWheelDetails wheel {};
        wheel.deltaY = c.deltaY;
        wheel.isReversed = c.reversed;
        const auto mods = c.shift ? juce::ModifierKeys (juce::ModifierKeys::shiftModifier) : juce::ModifierKeys();
        f.label.mouseWheelMove (mouseEvent (f.label, {}, mods), wheel);

        EXPECT_NEAR (host.getValue(), c.expected, 1.0e-5f);
        EXPECT_TRUE (log.isOneCompleteGesture());
        // The display follows: MIX is 0..100 linear.
        EXPECT_EQ (f.label.label.getText(), juce::String ((double) (c.expected * 100.0f), 1));
    }
}

TEST (ParameterLabelTests, WheelWithoutAParameterDoesNothing)
{
    cvx::ui::ParameterLabel label;
    juce::MouseWheelDetails wheel {};
    wheel.deltaY = 1.0f;
    label.mouseWheelMove (mouseEvent (label, {}), wheel);
    EXPECT_EQ (label.label.getText(), juce::String());
}

TEST (ParameterLabelTests, FilterKeepsOnlyTheCharactersOfANumber)
{
    LabelFixture f ("CR0");
    juce::TextEditor dummy;
    EXPECT_EQ (f.label.filterNewText (dummy, "2.5k"), "2.5k");
    EXPECT_EQ (f.label.filterNewText (dummy, "+1,5 e3 Hz -K"), "153-K");
    EXPECT_EQ (f.label.filterNewText (dummy, "abc xyz"), "");

    // Typing goes through the filter once the editor is open.
    f.label.open();
    ASSERT_NE (f.editor(), nullptr);
    f.editor()->insertTextAtCaret ("+2 .5x k");
    EXPECT_EQ (f.editor()->getText(), "2.5k");
}

TEST (ParameterLabelTests, OpeningShowsAnEmptyEditor)
{
    LabelFixture f ("THD0");
    f.label.unit = " dB";
    f.label.refreshInternal();
    ASSERT_EQ (f.label.label.getText(), "-8.0 dB");

    f.label.mouseDown (mouseEvent (f.label, {}, rightButton));   // any button opens it
    ASSERT_NE (f.editor(), nullptr);
    EXPECT_EQ (f.editor()->getText(), juce::String());
    EXPECT_EQ (f.editor()->getJustificationType(), juce::Justification::centred);
    EXPECT_EQ (f.editor()->findColour (juce::TextEditor::backgroundColourId), juce::Colours::transparentBlack);
    EXPECT_EQ (f.editor()->findColour (juce::TextEditor::highlightedTextColourId), juce::Colours::black);
}

TEST (ParameterLabelTests, TypedValuesAreReadClampedAndWrittenAsOneGesture)
{
    struct Case { const char* id; const char* typed; float expected; };
    const Case cases[] = {
        { "CR0", "2.5k", 2.5f * 1000.0f },   // k means thousands
        { "CR0", "2.5K", 2.5f * 1000.0f },
        { "CR0", "1000", 1000.0f },
        { "CR0", "99k", 44000.0f },          // clamped to the top of 20 .. 44000 Hz
        { "CR0", "k", 20.0f },               // no number reads as 0, clamped to the bottom
        { "THD0", "-12.5", -12.5f },
        { "THD0", "-75", -60.0f },           // clamped to -60 .. 0 dB
        { "THD0", "-", 0.0f },
        { "MIX", ".5", 0.5f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " '" + c.typed + "'");
        LabelFixture f (c.id);
        HostParameterLog log (f.hostParameter (c.id));

        f.enter (c.typed);

        EXPECT_EQ (f.editor(), nullptr);
        EXPECT_NEAR (f.plain (c.id), c.expected, std::abs (c.expected) * 1.0e-4f + 1.0e-4f);
        EXPECT_NEAR (f.binding.getValue(), c.expected, std::abs (c.expected) * 1.0e-4f + 1.0e-4f);
        EXPECT_TRUE (log.isOneCompleteGesture());
        EXPECT_EQ (f.closes, 1);
        EXPECT_EQ (f.label.label.getText(), juce::String ((double) f.binding.getModulatedValue(), 1));
    }
}

TEST (ParameterLabelTests, TextToValueReplacesTheDefaultReading)
{
    LabelFixture f ("THD0");
    juce::String seen;
    f.label.textToValue = [&seen] (const juce::String& text)
    {
        seen = text;
        return -30.0f;
    };

    f.enter ("5");
    EXPECT_EQ (seen, "5");
    EXPECT_FLOAT_EQ (f.plain ("THD0"), -30.0f);
}

TEST (ParameterLabelTests, EscapeWritesNothingAndRestoresTheDisplay)
{
    LabelFixture f ("THD0");
    f.label.unit = " dB";
    f.label.refreshInternal();
    HostParameterLog log (f.hostParameter ("THD0"));

    f.label.open();
    f.editor()->setText ("-20", false);
    f.press (juce::KeyPress::escapeKey);

    EXPECT_EQ (f.editor(), nullptr);
    EXPECT_TRUE (log.events.empty());
    EXPECT_FLOAT_EQ (f.plain ("THD0"), -8.0f);
    EXPECT_EQ (f.label.label.getText(), "-8.0 dB");
    EXPECT_EQ (f.closes, 1);
}

TEST (ParameterLabelTests, ReturnOnAnEmptyEditorWritesNothingAndStillCloses)
{
    LabelFixture f ("THD0");
    f.label.unit = " dB";
    HostParameterLog log (f.hostParameter ("THD0"));

    f.enter ("");

    EXPECT_EQ (f.editor(), nullptr);
    EXPECT_TRUE (log.events.empty());
    EXPECT_EQ (f.label.label.getText(), "-8.0 dB");
    EXPECT_EQ (f.closes, 1);
}

TEST (ParameterLabelTests, WhileEditingTheDisplayIsLeftAloneButTheValueIsRecorded)
{
    LabelFixture f ("THD0");
    f.label.open();
    f.editor()->setText ("-3", false);

    setPlain (f.state, "THD0", -40.0f);
    f.binding.pull();
    f.label.refreshInternal();
    EXPECT_FLOAT_EQ (f.label.lastShown, -40.0f);
    EXPECT_EQ (f.editor()->getText(), "-3");

    // Losing the focus picks up a value changed meanwhile.
    setPlain (f.state, "THD0", -50.0f);
    ASSERT_TRUE (static_cast<bool> (f.editor()->onFocusLost));
    f.editor()->onFocusLost();
    EXPECT_FLOAT_EQ (f.label.lastShown, -50.0f);
}

TEST (ParameterLabelTests, ParseTypedValueReadsTheLeadingNumberAndThousands)
{
    struct Case { const char* text; float expected; };
    const Case cases[] = {
        { "2.5k", 2500.0f }, { "2.5K", 2500.0f }, { "-3k", -3000.0f }, { "12", 12.0f },
        { "0.5", 0.5f }, { "", 0.0f }, { "k", 0.0f }, { "-", 0.0f }, { "2k5", 2.0f },
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ (cvx::ui::ParameterLabel::parseTypedValue (c.text), c.expected) << c.text;
}

// The one helper through which widgets write a plain value.
TEST (PushPlainTests, WritesAClampedPlainValueAsOneGesture)
{
    struct Case { const char* id; float plain; float expected; };
    const Case cases[] = {
        { "THD0", -20.0f, -20.0f },
        { "THD0", -61.0f, -60.0f },
        { "THD0", 5.0f, 0.0f },
        { "CR0", 2500.0f, 2500.0f },
        { "CR0", 1.0e9f, 44000.0f },
        { "RAD0", 0.0f, 1.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " " + juce::String (c.plain));
        UiFixture f;
        cvx::AudioParameter binding (f.state, c.id);
        HostParameterLog log (f.hostParameter (c.id));

        binding.pushPlain (c.plain);

        const float tolerance = std::abs (c.expected) * 1.0e-5f + 1.0e-5f;
        EXPECT_NEAR (f.plain (c.id), c.expected, tolerance);
        EXPECT_NEAR (binding.getValue(), c.expected, tolerance);
        EXPECT_NEAR (binding.getModulatedValue(), c.expected, tolerance);
        EXPECT_NEAR (binding.getNormalisedValue(), f.hostParameter (c.id).getValue(), 1.0e-6f);
        EXPECT_TRUE (log.isOneCompleteGesture());
        EXPECT_NEAR (log.lastValue, f.hostParameter (c.id).getValue(), 1.0e-6f);
    }
}

TEST (PushPlainTests, NonFiniteValuesWriteNothing)
{
    for (const float bad : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity() })
    {
        UiFixture f;
        cvx::AudioParameter binding (f.state, "THD0");
        HostParameterLog log (f.hostParameter ("THD0"));

        binding.pushPlain (bad);

        EXPECT_TRUE (log.events.empty());
        EXPECT_FLOAT_EQ (f.plain ("THD0"), -8.0f);
        EXPECT_FLOAT_EQ (binding.getValue(), -8.0f);
    }
}

} // namespace
} // namespace vyx::test

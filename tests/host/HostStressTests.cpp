// What hosts throw at the built bundle, for a bounded time: random automation of every
// parameter at random block sizes, rates and layouts; state restores, preparation, "OVER"
// changes and the editor while audio runs on another thread; many instances at once.
//
// Each run lasts VYX_STRESS_SECONDS seconds (a few by default, so the suite stays fast) and
// starts from VYX_STRESS_SEED (a fixed seed by default, so a failure repeats). A long soak is
// the same tests with a larger budget: see the README.

#include "HostTestSupport.h"
#include "Render.h"

#include <plugin/Layout.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <cstdlib>
#include <thread>

namespace
{

using FadeState = cvx::AudioProcessor::FadeState;

double stressSeconds()
{
    if (const char* text = std::getenv ("VYX_STRESS_SECONDS"))
        return std::max (0.1, juce::String (text).getDoubleValue());
    return 3.0;
}

juce::int64 stressSeed()
{
    if (const char* text = std::getenv ("VYX_STRESS_SEED"))
        return juce::String (text).getLargeIntValue();
    return 20261210;
}

/** Runs until the stress budget is spent; prints one progress line per second when the budget
    is long enough to be a soak. */
class Deadline
{
public:
    explicit Deadline (const char* name, double seconds = stressSeconds())
        : label (name), budgetMs (seconds * 1000.0), start (juce::Time::getMillisecondCounterHiRes())
    {
    }

    bool running()
    {
        const double now = juce::Time::getMillisecondCounterHiRes();
        if (budgetMs >= 30000.0 && now - lastReport >= 1000.0)
        {
            lastReport = now;
            std::cerr << "\r" << label << ": " << (int) ((now - start) / 1000.0) << " of "
                      << (int) (budgetMs / 1000.0) << " s, " << blocks << " blocks" << std::flush;
        }
        return now - start < budgetMs;
    }

    ~Deadline()
    {
        if (budgetMs >= 30000.0)
            std::cerr << "\n";
        std::cout << "[ stress   ] " << label << ": " << blocks << " blocks in "
                  << juce::String ((juce::Time::getMillisecondCounterHiRes() - start) / 1000.0, 1) << " s" << std::endl;
    }

    std::atomic<juce::int64> blocks { 0 };

private:
    const char* label;
    double budgetMs, start, lastReport = 0.0;
};

/** A signal that changes character every few thousand samples: silence, DC, tones, noise,
    clicks, at levels from far below to well above full scale. Always finite. */
class Generator
{
public:
    explicit Generator (juce::int64 seed) : random (seed) {}

    void fill (juce::AudioBuffer<float>& buffer, int firstChannel, int numChannels, int numSamples)
    {
        for (int i = 0; i < numSamples; ++i)
        {
            if (--remaining <= 0)
                nextSegment();

            phase += increment;
            if (phase > juce::MathConstants<double>::twoPi)
                phase -= juce::MathConstants<double>::twoPi;

            float x = 0.0f;
            switch (kind)
            {
                case 0: x = 0.0f; break;
                case 1: x = level; break;
                case 2: x = level * (float) std::sin (phase); break;
                case 3: x = level * (random.nextFloat() * 2.0f - 1.0f); break;
                case 4: x = random.nextInt (200) == 0 ? level : 0.0f; break;
                default: x = std::sin (phase) > 0.0 ? level : -level; break;
            }

            for (int ch = firstChannel; ch < firstChannel + numChannels; ++ch)
                buffer.setSample (ch, i, ch == firstChannel ? x : 0.8f * x + 0.2f * level * (random.nextFloat() - 0.5f));
        }
    }

private:
    void nextSegment()
    {
        kind = random.nextInt (6);
        // Levels from -100 dB to +18 dB above full scale.
        level = juce::Decibels::decibelsToGain (-100.0f + 118.0f * random.nextFloat(), -200.0f);
        increment = juce::MathConstants<double>::twoPi * (20.0 + 20000.0 * std::pow (random.nextDouble(), 3.0)) / 48000.0;
        remaining = 1 + random.nextInt (20000);
    }

    juce::Random random;
    int kind = 0, remaining = 0;
    float level = 0.0f;
    double phase = 0.0, increment = 0.0;
};

float peakOf (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
{
    float peak = 0.0f;
    for (int ch = 0; ch < numChannels; ++ch)
        peak = std::max (peak, buffer.getMagnitude (ch, 0, numSamples));
    return peak;
}

bool finite (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
{
    for (int ch = 0; ch < numChannels; ++ch)
        for (int i = 0; i < numSamples; ++i)
            if (! std::isfinite (buffer.getSample (ch, i)))
                return false;
    return true;
}

/** The hosted parameters, without the wrapper's bypass. */
std::vector<juce::AudioProcessorParameter*> pluginParameters (juce::AudioPluginInstance& instance)
{
    std::vector<juce::AudioProcessorParameter*> result;
    for (auto* p : instance.getParameters())
        if (p != instance.getBypassParameter())
            result.push_back (p);
    return result;
}

/** Sets "OVER" and "LIMIT" through a state restore, as a DAW loading a project would. */
void restoreSwitches (juce::AudioPluginInstance& instance, int oversampling, bool limiter)
{
    const bool edited = vyx::host::editPluginState (instance, [&] (juce::XmlElement& state)
    {
        auto* properties = state.getChildByName ("Properties");
        if (properties == nullptr)
            properties = state.createNewChildElement ("Properties");
        properties->setAttribute ("LIMIT", limiter ? 1 : 0);

        auto* attributes = state.getChildByName ("Attributes");
        if (attributes == nullptr)
            attributes = state.createNewChildElement ("Attributes");
        attributes->setAttribute ("OVER", oversampling);
    });
    ASSERT_TRUE (edited);
}

juce::AudioProcessor::BusesLayout layoutFor (int channels, bool sidechain)
{
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.inputBuses.add (sidechain ? set : juce::AudioChannelSet::disabled());
    layout.outputBuses.add (set);
    return layout;
}

class HostStress : public vyx::test::SharedInstanceTest<HostStress>
{
};

TEST_F (HostStress, RandomAutomationAtRandomSetupsStaysFiniteAndUnderTheCeiling)
{
    const auto seed = stressSeed();
    SCOPED_TRACE ("VYX_STRESS_SEED=" + juce::String (seed));
    juce::Random random (seed);
    Generator signal (seed + 1), key (seed + 2);
    const auto parameters = pluginParameters (*instance);
    ASSERT_EQ ((int) parameters.size(), Layout::numParameters);

    const double rates[] { 22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 };
    Deadline deadline ("random automation");
    juce::MidiBuffer midi;
    int setups = 0;

    while (deadline.running() || setups < 4)
    {
        // Every oversampling stage comes round in the first four setups.
        const int oversampling = setups % 4;
        const bool limiter = setups < 4 || random.nextBool();
        const double sampleRate = random.nextInt (3) == 0 ? 22050.0 + random.nextDouble() * (192000.0 - 22050.0)
                                                          : rates[random.nextInt (8)];
        const int channels = 1 + random.nextInt (2);
        const bool sidechain = random.nextBool();
        const int maxBlock = random.nextInt (4) == 0 ? 1 + random.nextInt (64) : 1 + random.nextInt (4096);
        ++setups;

        const auto setup = juce::String (sampleRate) + " Hz, " + juce::String (channels) + " ch, sidechain "
                           + (sidechain ? "on" : "off") + ", OVER " + juce::String (oversampling) + ", limiter "
                           + (limiter ? "on" : "off") + ", blocks up to " + juce::String (maxBlock);
        SCOPED_TRACE (setup);

        instance->releaseResources();
        ASSERT_TRUE (instance->setBusesLayout (layoutFor (channels, sidechain)));
        restoreSwitches (*instance, oversampling, limiter);
        instance->prepareToPlay (sampleRate, maxBlock);

        const int totalChannels = std::max (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels());
        ASSERT_EQ (totalChannels, sidechain ? 2 * channels : channels);
        juce::AudioBuffer<float> buffer (totalChannels, maxBlock);

        // A tenth of a second of audio per setup, in random block lengths.
        for (double processed = 0.0; processed < 0.1 * sampleRate;)
        {
            const int n = 1 + random.nextInt (maxBlock);

            // Automation: a few parameters per block, now and then all of them.
            const int changes = random.nextInt (20) == 0 ? (int) parameters.size() : random.nextInt (4);
            for (int c = 0; c < changes; ++c)
                parameters[(size_t) random.nextInt ((int) parameters.size())]->setValue (random.nextFloat());

            buffer.setSize (totalChannels, n, false, false, true);
            signal.fill (buffer, 0, channels, n);
            if (sidechain)
                key.fill (buffer, channels, channels, n);

            instance->processBlock (buffer, midi);
            ++deadline.blocks;
            processed += n;

            ASSERT_TRUE (finite (buffer, channels, n)) << "block " << deadline.blocks.load();
            if (limiter)
            {
                ASSERT_LE (peakOf (buffer, channels, n), 0.95f + 1.0e-4f) << "block " << deadline.blocks.load();
            }
        }
    }

    // Leave the shared instance as the other suites expect it.
    instance->releaseResources();
    ASSERT_TRUE (instance->setBusesLayout (layoutFor (2, false)));
    restoreSwitches (*instance, 0, true);
}

// The limiter holds 0.95 at the oversampled rate, and the down-sampling filter after it rings
// above the ceiling on loud, bright material (up to about 1.1 on the square wave below): the
// output must be held at the host rate too.
TEST_F (HostStress, LimiterHoldsTheCeilingWithOversampling)
{
    for (int oversampling = 0; oversampling < 4; ++oversampling)
    {
        SCOPED_TRACE ("OVER " + juce::String (oversampling));
        instance->releaseResources();
        restoreSwitches (*instance, oversampling, true);
        vyx::test::prepare (*instance, 48000.0, 512);

        // A 12 dB hot square wave at 3 kHz: the sharpest edges a limiter meets.
        auto audio = juce::AudioBuffer<float> (2, 48000);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < audio.getNumSamples(); ++i)
                audio.setSample (ch, i, (i / 8) % 2 == 0 ? 4.0f : -4.0f);

        vyx::host::render (*instance, audio, 512);
        EXPECT_LE (vyx::host::getPeak (audio), 0.95f + 1.0e-4f);
    }
    instance->releaseResources();
    restoreSwitches (*instance, 0, true);
}

/** Processes on a thread of its own, as a host's audio thread does, until stopped. */
class AudioThread
{
public:
    AudioThread (std::function<void (juce::AudioBuffer<float>&)> processBlock, int channels, int maxBlock, juce::int64 seed)
        : process (std::move (processBlock)), buffer (channels, maxBlock), signal (seed), random (seed)
    {
        thread = std::thread ([this, maxBlock]
        {
            while (! stop.load())
            {
                const int n = 1 + random.nextInt (maxBlock);
                buffer.setSize (buffer.getNumChannels(), n, false, false, true);
                signal.fill (buffer, 0, buffer.getNumChannels(), n);
                process (buffer);
                if (! finite (buffer, buffer.getNumChannels(), n))
                    nonFinite.store (true);
                ++blocks;
            }
        });
    }

    ~AudioThread() { join(); }

    void join()
    {
        stop.store (true);
        if (thread.joinable())
            thread.join();
    }

    std::atomic<bool> nonFinite { false };
    std::atomic<juce::int64> blocks { 0 };

private:
    std::function<void (juce::AudioBuffer<float>&)> process;
    juce::AudioBuffer<float> buffer;
    Generator signal;
    juce::Random random;
    std::atomic<bool> stop { false };
    std::thread thread;
};

// On Linux the bundle runs its own message thread, and a host restores and saves state from
// its own thread while audio runs and the parameter store's timer flushes into the same trees.
TEST_F (HostStress, ConcurrentAutomationAndStateRestoresWhileProcessing)
{
    const auto seed = stressSeed();
    SCOPED_TRACE ("VYX_STRESS_SEED=" + juce::String (seed));
    juce::Random random (seed);
    const auto parameters = pluginParameters (*instance);

    // Three saved states to restore in turn: the fresh one and two with random settings.
    std::vector<juce::MemoryBlock> states (3);
    instance->getStateInformation (states[0]);
    for (size_t s = 1; s < states.size(); ++s)
    {
        for (auto* p : parameters)
            p->setValue (random.nextFloat());
        restoreSwitches (*instance, (int) s, s == 1);
        instance->getStateInformation (states[s]);
    }

    constexpr int maxBlock = 512;
    vyx::test::prepare (*instance, 48000.0, maxBlock);
    juce::MidiBuffer midi;
    Deadline deadline ("state restores while processing");
    {
        AudioThread audio ([&] (juce::AudioBuffer<float>& b) { instance->processBlock (b, midi); }, 2, maxBlock, seed);

        while (deadline.running())
        {
            if (random.nextInt (4) == 0)
            {
                const auto& state = states[(size_t) random.nextInt ((int) states.size())];
                instance->setStateInformation (state.getData(), (int) state.getSize());
            }
            else
            {
                for (int c = 0; c < 8; ++c)
                    parameters[(size_t) random.nextInt ((int) parameters.size())]->setValue (random.nextFloat());
            }
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1 + random.nextInt (5));
        }

        audio.join();
        deadline.blocks = audio.blocks.load();
        EXPECT_FALSE (audio.nonFinite.load());
        EXPECT_GT (audio.blocks.load(), 0);
    }

    instance->setStateInformation (states[0].getData(), (int) states[0].getSize());
}

// Disabled while it crashes: AddressSanitizer reports a use after free in the framework's
// XEmbed component (host side) when a hosted editor is closed with X events still queued.
TEST_F (HostStress, DISABLED_ConcurrentEditorOpenResizeCloseWhileProcessing)
{
    if (! instance->hasEditor())
        GTEST_SKIP() << "the plug-in has no editor";

    const auto seed = stressSeed();
    juce::Random random (seed);
    constexpr int maxBlock = 256;
    vyx::test::prepare (*instance, 44100.0, maxBlock);
    juce::MidiBuffer midi;
    Deadline deadline ("editor while processing");

    AudioThread audio ([&] (juce::AudioBuffer<float>& b) { instance->processBlock (b, midi); }, 2, maxBlock, seed);
    int opened = 0;

    while (deadline.running() || opened < 2)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        ++opened;

        // Drag-resize steps, with the message loop (timers, repaints) running in between.
        for (int step = 0; step < 5; ++step)
        {
            editor->setSize (300 + random.nextInt (900), 200 + random.nextInt (600));
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        }

        editor.reset();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    audio.join();
    deadline.blocks = audio.blocks.load();
    EXPECT_FALSE (audio.nonFinite.load());
}

TEST (HostStressInstances, FiftyInstancesLoadProcessAndUnload)
{
    juce::Random random (stressSeed());
    std::vector<std::unique_ptr<juce::AudioPluginInstance>> instances;

    for (int i = 0; i < 50; ++i)
    {
        auto instance = vyx::test::loadBuiltPlugin (44100.0, 256);
        ASSERT_NE (instance, nullptr) << "instance " << i;
        instance->prepareToPlay (44100.0, 256);
        instances.push_back (std::move (instance));
    }

    // All alive at once, each processing, as in a session with many tracks.
    Generator signal (1);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    for (int round = 0; round < 4; ++round)
    {
        for (auto& instance : instances)
        {
            signal.fill (buffer, 0, 2, 256);
            instance->processBlock (buffer, midi);
            ASSERT_TRUE (finite (buffer, 2, 256));
            ASSERT_LE (peakOf (buffer, 2, 256), 0.95f + 1.0e-4f);
        }
    }

    // Closed in an order that is not the opening order.
    while (! instances.empty())
    {
        const auto index = (size_t) random.nextInt ((int) instances.size());
        instances[index]->releaseResources();
        instances.erase (instances.begin() + (std::ptrdiff_t) index);
    }
}

//==============================================================================
// Inputs the fuzz targets found, kept as regression tests.

/** Runs the call on a thread of its own and reports whether it returned within the time; a
    call that hangs fails the test and ends the process, since the thread cannot be stopped. */
void expectReturnsWithin (int milliseconds, std::function<void()> call, const juce::String& what)
{
    auto done = std::make_shared<std::atomic<bool>> (false);
    std::thread ([call, done] { call(); done->store (true); }).detach();
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    while (! done->load() && juce::Time::getMillisecondCounter() < end)
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    if (! done->load())
    {
        ADD_FAILURE() << what << " did not return within " << milliseconds << " ms";
        std::cout << "[  FAILED  ] hang: " << what << std::endl;
        std::_Exit (1);
    }
}

// The framework's XML parser loops forever on a processing instruction followed by text
// inside an element; the untrusted-XML reader must refuse such text before parsing it.
TEST (HostStressInProcess, DamagedXmlInStateAndPresetFilesDoesNotHang)
{
    const char* const documents[] {
        "<State><?x?>b</State>",
        // The first input the preset fuzz target found, minimised.
        "<?7\"?>\r\n\r\n<Sta->=\"A<?xF-8\"?>\r\n\r\n=--><",
    };

    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    for (const auto* document : documents)
    {
        SCOPED_TRACE (document);
        juce::MemoryBlock block;
        juce::MemoryOutputStream stream (block, false);
        stream.writeInt (0x21324356);  // "VC2!"
        stream.writeInt ((int) std::strlen (document));
        stream.write (document, std::strlen (document));
        stream.writeByte (0);
        stream.flush();

        juce::MemoryBlock before;
        processor->getStateInformation (before);
        expectReturnsWithin (5000, [&] { processor->setStateInformation (block.getData(), (int) block.getSize()); },
                             "setStateInformation");
        juce::MemoryBlock after;
        processor->getStateInformation (after);
        EXPECT_EQ (after, before) << "a damaged block changed the state";

        const auto file = vyx::test::getTestHome().getChildFile ("damaged.preset");
        ASSERT_TRUE (file.replaceWithText (document));
        expectReturnsWithin (5000, [&] { EXPECT_FALSE (cvx::ui::PresetFiles::read (file).isValid()); }, "PresetFiles::read");
    }
}

//==============================================================================
// The same threads in process, straight on the product's processor: hosts may prepare from
// any thread, and the settings menu starts a rebuild by writing "OVER" and the fade state.

TEST (HostStressInProcess, ConcurrentPrepareAndOversamplingChangesWhileProcessing)
{
    const auto seed = stressSeed();
    SCOPED_TRACE ("VYX_STRESS_SEED=" + juce::String (seed));
    juce::Random random (seed);

    std::unique_ptr<juce::AudioProcessor> created (createPluginFilter());
    auto* processor = dynamic_cast<cvx::AudioProcessor*> (created.get());
    ASSERT_NE (processor, nullptr);

    // Hosts shrink the block size only after stopping the audio; blocks here stay within the
    // smallest size any preparation announces.
    constexpr int audioBlock = 256;
    processor->setPlayConfigDetails (2, 2, 48000.0, 1024);
    processor->prepareToPlay (48000.0, 1024);

    std::atomic<bool> stopPreparing { false };
    Deadline deadline ("prepare and OVER while processing");
    {
        juce::MidiBuffer midi;
        AudioThread audio ([&] (juce::AudioBuffer<float>& b) { processor->processBlock (b, midi); }, 2, audioBlock, seed);

        // A second host thread re-preparing at other rates and sizes.
        std::thread preparer ([&]
        {
            juce::Random r (seed + 3);
            const double rates[] { 22050.0, 44100.0, 48000.0, 96000.0, 192000.0 };
            while (! stopPreparing.load())
            {
                processor->prepareToPlay (rates[r.nextInt (5)], audioBlock + r.nextInt (4096 - audioBlock));
                std::this_thread::sleep_for (std::chrono::milliseconds (1 + r.nextInt (10)));
            }
        });

        // The message thread: "OVER" as the settings menu writes it, parameter edits, and
        // the re-prepare tasks the fades post.
        auto& attributes = processor->state.attributes;
        const auto& parameters = processor->getParameters();
        while (deadline.running())
        {
            attributes.setProperty (Attributes::oversampler, random.nextInt (4), nullptr);
            processor->requestReprepare();
            for (int c = 0; c < 8; ++c)
                parameters[random.nextInt (parameters.size())]->setValueNotifyingHost (random.nextFloat());
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5 + random.nextInt (20));
        }

        stopPreparing.store (true);
        preparer.join();
        audio.join();
        deadline.blocks = audio.blocks.load();
        EXPECT_FALSE (audio.nonFinite.load());
        EXPECT_GT (audio.blocks.load(), 0);
    }

    // Let the last re-prepare task run before the processor goes.
    vyx::test::runMessageLoopUntil ([processor] { return processor->getFadeState() != FadeState::silent; });
}

//==============================================================================
/** Accepts connections on a loopback port and never answers them, like an overloaded service
    or a proxy that holds the line, for its lifetime; every plain-HTTP request of this process,
    the bundle's version query included, goes to it as a proxy. */
class HoldingLoopbackProxy : private juce::Thread
{
public:
    HoldingLoopbackProxy() : juce::Thread ("holding proxy")
    {
        if (listener.createListener (0, "127.0.0.1"))
        {
            for (auto& [name, value] : saved)
            {
                if (const char* text = std::getenv (name))
                    value = text;
                unsetenv (name);
            }
            setenv ("http_proxy", ("http://127.0.0.1:" + juce::String (listener.getBoundPort())).toRawUTF8(), 1);
            startThread();
        }
    }

    ~HoldingLoopbackProxy() override
    {
        for (const auto& [name, value] : saved)
        {
            if (value.has_value())
                setenv (name, value->c_str(), 1);
            else
                unsetenv (name);
        }
        signalThreadShouldExit();
        listener.close();
        stopThread (2000);
    }

    bool isListening() const { return listener.getBoundPort() > 0; }
    int getNumConnections() const { return connections.load(); }

private:
    void run() override
    {
        std::vector<std::unique_ptr<juce::StreamingSocket>> held;
        while (! threadShouldExit())
        {
            if (listener.waitUntilReady (true, 20) != 1)
                continue;
            if (auto* connection = listener.waitForNextConnection())
            {
                held.emplace_back (connection);
                ++connections;
            }
        }
    }

    juce::StreamingSocket listener;
    std::atomic<int> connections { 0 };
    std::vector<std::pair<const char*, std::optional<std::string>>> saved { { "http_proxy", {} }, { "no_proxy", {} }, { "NO_PROXY", {} } };
};

// The bundle is loaded, an instance created, processed and destroyed and the bundle let go,
// over and over, while every version query it starts hangs: each last instance goes within a
// second (a host frozen for the query's time-out otherwise), and under the sanitizers nothing
// its threads read has gone before them.
TEST (HostStressInstances, LoadProcessAndUnloadWhileTheServiceHangs)
{
    HoldingLoopbackProxy service;
    ASSERT_TRUE (service.isListening());

    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    for (int round = 0; round < 8; ++round)
    {
        auto instance = vyx::test::loadBuiltPlugin (44100.0, 256);
        ASSERT_NE (instance, nullptr) << "round " << round;
        instance->prepareToPlay (44100.0, 256);
        buffer.clear();
        instance->processBlock (buffer, midi);

        // Destroyed at once in even rounds, once the query is surely on the line in odd ones.
        if (round % 2 == 1)
            ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&] { return service.getNumConnections() > round / 2; }, 10000));

        const auto start = std::chrono::steady_clock::now();
        instance.reset();
        const auto ms = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();
        EXPECT_LT (ms, 1000.0) << "round " << round;
    }
    EXPECT_GT (service.getNumConnections(), 0);
}

} // namespace

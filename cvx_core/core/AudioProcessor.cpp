namespace cvx
{

AudioProcessor::AudioProcessor (juce::AudioProcessorValueTreeState::ParameterLayout layout)
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)
                                .withInput ("Sidechain", juce::AudioChannelSet::stereo(), false)),
      AudioProcessorStateHolder (*this, std::move (layout)),
      Processor ("AudioProcessor", state, "Audio Processor"),
      lifetime (std::make_shared<Lifetime>())
{
    lifetime->owner = this;
}

AudioProcessor::~AudioProcessor()
{
    detachQueuedTasks();
}

void AudioProcessor::detachQueuedTasks()
{
    const juce::ScopedLock sl (lifetime->lock);
    lifetime->owner = nullptr;
}

void AudioProcessor::prepareToPlay (double sampleRate, int maximumBlockSize)
{
    const juce::SpinLock::ScopedLockType sl (prepareLock);

    fadeStep = (float) (1.0 / (0.05 * sampleRate));
    processSpec = { sampleRate, maximumBlockSize, getTotalNumOutputChannels() };

    prepare (processSpec);
    prepareBypass();

    const int length = (int) ((double) maximumBlockSize * 1000.0 / sampleRate);
    blockLength = length;
    idleThreshold = 2 * length + 1 >= 11 ? 2 * length + 1 : 10;
}

void AudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    runHostBlock (buffer, midi, false);
}

void AudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    runHostBlock (buffer, midi, true);
}

void AudioProcessor::runHostBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, bool bypassed)
{
    // Plain stores: each value stands on its own, and a locked exchange per block is time the
    // audio thread does not need to spend.
    state.hostActive.store (true, std::memory_order_relaxed);

    if (auto* head = getPlayHead())
    {
        if (const auto position = head->getPosition())
        {
            if (const auto ppq = position->getPpqPosition())
                state.hostPosition.store (*ppq, std::memory_order_relaxed);
            if (const auto bpm = position->getBpm())
                state.hostTempo.store (*bpm, std::memory_order_relaxed);
        }
    }

    processInternal (buffer, midi, bypassed);

    lastBlockTime.store (juce::Time::currentTimeMillis(), std::memory_order_relaxed);
}

void AudioProcessor::processInternal (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&, bool bypassed)
{
    const juce::SpinLock::ScopedLockType processGuard (processLock);
    const juce::ScopedNoDenormals noDenormals;

    // One reading for the whole block: the fade below matches what the block went through.
    const auto fade = fadeState.load();

    if (fade == FadeState::silent)
    {
        if (! buffer.hasBeenCleared())
            buffer.clear();
        return;
    }

    clearChannelsWithoutInput (buffer);

    if (prepareLock.tryEnter())
    {
        runEngine (buffer, bypassed);
        prepareLock.exit();
    }
    else
    {
        // A preparation is rebuilding the engine: the audio thread does not wait for it.
        buffer.clear();
    }

    if (fade == FadeState::fadingOut)
        fadeOut (buffer);
    else if (fade == FadeState::fadingIn)
        fadeIn (buffer);
}

void AudioProcessor::requestReprepare() noexcept
{
    auto current = fadeState.load();
    while ((current == FadeState::normal || current == FadeState::fadingIn)
           && ! fadeState.compare_exchange_weak (current, FadeState::fadingOut))
    {
    }
}

void AudioProcessor::clearChannelsWithoutInput (juce::AudioBuffer<float>& buffer)
{
    const int numIn = getTotalNumInputChannels();
    const int numOut = getTotalNumOutputChannels();
    if (numIn < numOut && ! buffer.hasBeenCleared())
        for (int ch = numIn; ch < std::min (numOut, buffer.getNumChannels()); ++ch)
            buffer.clear (ch, 0, buffer.getNumSamples());
}

void AudioProcessor::runEngine (juce::AudioBuffer<float>& buffer, bool bypassed)
{
    const int numSamples = buffer.getNumSamples();

    // The bypassed output is the input delayed by the latency the host compensates; it is
    // taken before the engine overwrites the input.
    const int bypassChannels = std::min (bypassDelay.getNumChannels(), buffer.getNumChannels());
    const float bypassTarget = bypassed ? 1.0f : 0.0f;
    if (! bypassMixKnown)
    {
        bypassMix = bypassTarget;
        bypassMixKnown = true;
    }

    // A block longer than the host announced has no room for the delayed input beside the
    // engine's output: it takes the host's choice at once, and a bypassed one skips the
    // engine and is delayed in place.
    const bool needsDelayedInput = bypassed || bypassMix != 0.0f;
    const bool oversized = numSamples > bypassBuffer.getNumSamples();
    const bool crossfading = needsDelayedInput && ! oversized;
    if (needsDelayedInput && oversized)
        bypassMix = bypassTarget;

    if (bypassed && oversized)
    {
        delayInPlace (buffer, bypassChannels, numSamples);
        return;
    }

    if (crossfading)
        readDelayedInput (buffer, bypassChannels, numSamples);
    else
        writeDelayLine (buffer, bypassChannels, numSamples);

    processOnTempoGrid (buffer);

    if (crossfading)
        mixBypass (buffer, bypassChannels, numSamples, bypassTarget);
}

void AudioProcessor::processOnTempoGrid (juce::AudioBuffer<float>& buffer)
{
    const int numSamples = buffer.getNumSamples();
    const int cut = findSixteenthNoteCut (state.hostPosition.load(), state.hostTempo.load(),
                                          processSpec.sampleRate, numSamples);

    if (cut > 0)
    {
        processPiece (buffer, 0, cut);
        processPiece (buffer, cut, numSamples - cut);
    }
    else
    {
        processPiece (buffer, 0, numSamples);
    }
}

int AudioProcessor::findSixteenthNoteCut (double position, double tempo, double sampleRate, int numSamples) noexcept
{
    // Each engine call reads the parameters (with their modulation) once, at its start. Cutting
    // the block where the host's grid passes a sixteenth note lets whatever follows the
    // host's tempo change on the grid, not wherever the host's block happens to begin. The
    // cut falls one sample before the boundary's whole-sample distance (a boundary 3000
    // samples away gives 2999 samples, then the rest); a sixteenth closer than 2 samples, or
    // past the block, gives no cut. The arithmetic is single precision, but for the last
    // product.
    const float quarterNotes = (float) position;
    const float beatsPerMinute = (float) tempo;

    // The next sixteenth after the position: one lying exactly on the grid is the one after.
    float boundary = std::ceil (4.0f * quarterNotes) * 0.25f;
    if (boundary == quarterNotes)
        boundary += 0.25f;

    const float seconds = (boundary - quarterNotes) * 60.0f / beatsPerMinute;
    const double samples = (double) seconds * sampleRate;

    // Beyond int range (a tempo of 0) there is no cut to make.
    const int distance = std::isfinite (samples) && std::abs (samples) < 2.0e9 ? (int) samples : 0;

    return distance >= 2 && distance <= numSamples ? distance - 1 : 0;
}

void AudioProcessor::fadeOut (juce::AudioBuffer<float>& buffer)
{
    const int numSamples = buffer.getNumSamples();
    const float from = fadeGain;
    const float to = std::max (from - (float) numSamples * fadeStep.load(), 0.0f);
    buffer.applyGainRamp (0, numSamples, from, to);
    fadeGain = to;

    if (to == 0.0f)
    {
        fadeState = FadeState::silent;
        postReprepare();
    }
}

void AudioProcessor::fadeIn (juce::AudioBuffer<float>& buffer)
{
    const int numSamples = buffer.getNumSamples();

    // The rebuilt engine is silent for its latency: the fade-in starts when its output
    // arrives, not on the step where the signal appears.
    const int held = std::min (fadeHold.load(), numSamples);
    if (held > 0)
    {
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            buffer.clear (ch, 0, held);
        fadeHold -= held;
    }

    const float from = fadeGain;
    const float to = std::min (from + (float) (numSamples - held) * fadeStep.load(), 1.0f);
    if (numSamples > held)
        buffer.applyGainRamp (held, numSamples - held, from, to);
    fadeGain = to;

    // The editor may have asked for another fade-out during this block; only a fade-in that
    // still stands is finished here, so that request is not lost.
    if (to == 1.0f)
    {
        auto expected = FadeState::fadingIn;
        fadeState.compare_exchange_strong (expected, FadeState::normal);
    }
}

void AudioProcessor::postReprepare()
{
    juce::MessageManager::callAsync ([life = lifetime]
    {
        const juce::ScopedLock sl (life->lock);
        if (life->owner != nullptr)
            life->owner->reprepare();
    });
}

void AudioProcessor::processPiece (juce::AudioBuffer<float>& buffer, int start, int length)
{
    const int numChannels = std::min (processSpec.numChannels, buffer.getNumChannels());
    juce::dsp::AudioBlock<float> whole (buffer);

    ProcessBlock<float> block;
    block.numChannels = processSpec.numChannels;
    block.numSamples = length;
    block.main = whole.getSubsetChannelBlock (0, (size_t) numChannels)
                      .getSubBlock ((size_t) start, (size_t) length);

    if (numChannels > 0 && buffer.getNumChannels() >= 2 * numChannels)
        block.sidechain = whole.getSubsetChannelBlock ((size_t) numChannels, (size_t) numChannels)
                               .getSubBlock ((size_t) start, (size_t) length);

    block.input = &block.main;
    block.output = block.main;

    process (block);
}

void AudioProcessor::prepareBypass()
{
    const int numChannels = std::max (0, processSpec.numChannels);
    const int latency = std::max (0, getLatencySamples());

    bypassDelay.setSize (numChannels, latency, false, false, true);
    bypassDelay.clear();
    bypassDelayPosition = 0;
    bypassBuffer.setSize (numChannels, std::max (1, processSpec.maximumBlockSize), false, false, true);
    bypassStep = processSpec.sampleRate > 0.0 ? (float) (1.0 / (bypassFadeSeconds * processSpec.sampleRate)) : 1.0f;

    // The engine starts afresh: there is no sound to fade from.
    bypassMixKnown = false;
}

void AudioProcessor::readDelayedInput (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
{
    for (int ch = 0; ch < numChannels; ++ch)
        bypassBuffer.copyFrom (ch, 0, buffer, ch, 0, numSamples);

    delayInPlace (bypassBuffer, numChannels, numSamples);
}

void AudioProcessor::writeDelayLine (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
{
    const int length = bypassDelay.getNumSamples();
    if (length == 0 || numSamples == 0)
        return;

    // Only the last `length` samples stay in the line.
    const int first = std::max (0, numSamples - length);
    const int start = (bypassDelayPosition + first) % length;
    const int count = numSamples - first;
    const int beforeWrap = std::min (count, length - start);

    for (int ch = 0; ch < numChannels; ++ch)
    {
        bypassDelay.copyFrom (ch, start, buffer, ch, first, beforeWrap);
        if (count > beforeWrap)
            bypassDelay.copyFrom (ch, 0, buffer, ch, first + beforeWrap, count - beforeWrap);
    }

    bypassDelayPosition = (start + count) % length;
}

void AudioProcessor::delayInPlace (juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
{
    const int length = bypassDelay.getNumSamples();
    if (length == 0 || numSamples == 0)
        return;

    // Each sample swaps places with the one written `length` samples earlier.
    int position = bypassDelayPosition;
    for (int ch = 0; ch < numChannels; ++ch)
    {
        auto* data = buffer.getWritePointer (ch);
        auto* line = bypassDelay.getWritePointer (ch);
        position = bypassDelayPosition;
        for (int i = 0; i < numSamples; ++i)
        {
            std::swap (data[i], line[position]);
            if (++position == length)
                position = 0;
        }
    }

    bypassDelayPosition = position;
}

void AudioProcessor::mixBypass (juce::AudioBuffer<float>& buffer, int numChannels, int numSamples, float target)
{
    // A linear crossfade from the current mix to the target; after it the output is one path
    // alone, the bypassed one copied sample for sample.
    const float start = bypassMix;
    const float distance = std::abs (target - start);
    const int remaining = distance > 0.0f ? (int) std::ceil (distance / bypassStep) : 0;
    const int fadeLength = std::min (numSamples, remaining);
    const float direction = target > start ? bypassStep : -bypassStep;

    for (int ch = 0; ch < numChannels; ++ch)
    {
        auto* out = buffer.getWritePointer (ch);
        const auto* bypassed = bypassBuffer.getReadPointer (ch);

        for (int i = 0; i < fadeLength; ++i)
        {
            const float mix = juce::jlimit (0.0f, 1.0f, start + direction * (float) (i + 1));
            out[i] += mix * (bypassed[i] - out[i]);
        }

        if (target == 1.0f && fadeLength < numSamples)
            juce::FloatVectorOperations::copy (out + fadeLength, bypassed + fadeLength, numSamples - fadeLength);
    }

    bypassMix = fadeLength == remaining ? target
                                        : juce::jlimit (0.0f, 1.0f, start + direction * (float) fadeLength);
}

void AudioProcessor::reprepare()
{
    const juce::ScopedLock sl (reprepareLock);

    {
        const juce::SpinLock::ScopedLockType pl (prepareLock);
        prepare (processSpec);
        prepareBypass();
        fadeHold = getLatencySamples();
    }

    fadeState = FadeState::fadingIn;
}

namespace
{
    /** Holds the message thread still while a host thread works on the state; does nothing
        on the message thread itself (or when there is none). */
    struct MessageThreadGuard
    {
        MessageThreadGuard()
        {
            if (auto* mm = juce::MessageManager::getInstanceWithoutCreating())
                if (! mm->isThisTheMessageThread())
                    lock = std::make_unique<juce::MessageManagerLock>();
        }

        std::unique_ptr<juce::MessageManagerLock> lock;
    };
} // namespace

void AudioProcessor::getStateInformation (juce::MemoryBlock& destination)
{
    // Hosts call this from their own thread, which on Linux is not the plug-in's message
    // thread: the parameter store's timer would flush into the same trees meanwhile.
    const MessageThreadGuard guard;

    auto tree = state.toPreset();
    tree.appendChild (state.attributes.createCopy(), nullptr);

    destination.reset();
    if (const auto xml = tree.createXml())
        copyXmlToBinary (*xml, destination);
}

namespace
{
    /** Text between elements has no equivalent in a value tree; it is dropped before the
        conversion (the depth is already bounded). */
    void removeTextElements (juce::XmlElement& element)
    {
        element.deleteAllTextElements();
        for (auto* child : element.getChildIterator())
            removeTextElements (*child);
    }

    /** A state tree is a handful of levels deep; anything far deeper is not one of ours. */
    constexpr int maximumStateDepth = 64;
} // namespace

std::unique_ptr<juce::XmlElement> AudioProcessor::parseStateBlock (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != stateBlockMagic)
        return {};

    const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
    if (length <= 0)
        return {};

    const auto numBytes = (size_t) std::min (length, sizeInBytes - 8);
    return parseUntrustedXml (juce::addBytesToPointer (data, 8), numBytes, maximumStateDepth);
}

void AudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = parseStateBlock (data, sizeInBytes);
    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (State::stateID.toString()))
        return;

    // Hosts call this from their own thread, which on Linux is not the plug-in's message
    // thread: the restore must not run beside the parameter store's timer or the editor.
    const MessageThreadGuard guard;

    removeTextElements (*xml);

    auto tree = juce::ValueTree::fromXml (*xml);
    state.fromPreset (tree);
    state.attributes.copyPropertiesFrom (tree.getChildWithName (State::attributesID), nullptr);
}

bool AudioProcessor::isBusesLayoutSupported (const BusesLayout& layout) const
{
    if (layout.outputBuses.isEmpty() || layout.inputBuses.isEmpty())
        return false;

    const auto& mainOut = layout.getMainOutputChannelSet();
    if (mainOut != juce::AudioChannelSet::mono() && mainOut != juce::AudioChannelSet::stereo())
        return false;

    return layout.getMainInputChannelSet() == mainOut;
}

} // namespace cvx

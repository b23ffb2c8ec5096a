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

    blockLength = (int) ((double) maximumBlockSize * 1000.0 / sampleRate);
    idleThreshold = 2 * blockLength + 1 >= 11 ? 2 * blockLength + 1 : 10;
}

void AudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    state.hostActive.exchange (true);

    if (auto* head = getPlayHead())
    {
        if (const auto position = head->getPosition())
        {
            if (const auto ppq = position->getPpqPosition())
                state.hostPosition.exchange (*ppq);
            if (const auto bpm = position->getBpm())
                state.hostTempo.exchange (*bpm);
        }
    }

    processInternal (buffer, midi);

    lastBlockTime = juce::Time::currentTimeMillis();
}

void AudioProcessor::processInternal (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const juce::SpinLock::ScopedLockType processGuard (processLock);
    const juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();
    const int s = fadeState.load();

    if (s == 2)
    {
        if (! buffer.hasBeenCleared())
            buffer.clear();
        return;
    }

    const int numIn = getTotalNumInputChannels();
    const int numOut = getTotalNumOutputChannels();
    if (numIn < numOut && ! buffer.hasBeenCleared())
        for (int ch = numIn; ch < std::min (numOut, buffer.getNumChannels()); ++ch)
            buffer.clear (ch, 0, numSamples);

    if (prepareLock.tryEnter())
    {
        const float p = (float) state.hostPosition.load();
        const float t = (float) state.hostTempo.load();

        float boundary = std::ceil (4.0f * p) * 0.25f;
        if (boundary == p)
            boundary += 0.25f;

        const float seconds = (boundary - p) * 60.0f / t;
        const double samples = (double) seconds * processSpec.sampleRate;
        // Beyond int range (a tempo of 0) there is no split to make.
        const int n = std::isfinite (samples) && std::abs (samples) < 2.0e9 ? (int) samples : 0;

        if (n >= 2 && n <= numSamples)
        {
            processPiece (buffer, 0, n - 1);
            processPiece (buffer, n - 1, numSamples - n + 1);
        }
        else
        {
            processPiece (buffer, 0, numSamples);
        }

        prepareLock.exit();
    }
    else
    {
        buffer.clear();
    }

    if (s == 1)
    {
        const float g0 = fadeGain;
        const float g1 = std::max (g0 - (float) numSamples * fadeStep, 0.0f);
        buffer.applyGainRamp (0, numSamples, g0, g1);
        fadeGain = g1;

        if (g1 == 0.0f)
        {
            fadeState = 2;
            juce::MessageManager::callAsync ([life = lifetime]
            {
                const juce::ScopedLock sl (life->lock);
                if (life->owner != nullptr)
                    life->owner->reprepare();
            });
        }
    }
    else if (s == 3)
    {
        // The rebuilt engine is silent for its latency: the fade-in starts when its output
        // arrives, not on the step where the signal appears.
        const int held = std::min (fadeHold, numSamples);
        if (held > 0)
        {
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                buffer.clear (ch, 0, held);
            fadeHold -= held;
        }

        const float g0 = fadeGain;
        const float g1 = std::min (g0 + (float) (numSamples - held) * fadeStep, 1.0f);
        if (numSamples > held)
            buffer.applyGainRamp (held, numSamples - held, g0, g1);
        fadeGain = g1;

        if (g1 == 1.0f)
            fadeState = 0;
    }
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

void AudioProcessor::reprepare()
{
    const juce::ScopedLock sl (reprepareLock);

    {
        const juce::SpinLock::ScopedLockType pl (prepareLock);
        prepare (processSpec);
        fadeHold = getLatencySamples();
    }

    fadeState = 3;
}

void AudioProcessor::getStateInformation (juce::MemoryBlock& destination)
{
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

    /** The XML document of a host state block: "VC2!", a little-endian length, the UTF-8 text.
        Short blocks, a wrong magic, a length of 0 or less and text that the untrusted-XML
        parser refuses give null; a length beyond the data is cut to the data present. */
    std::unique_ptr<juce::XmlElement> parseStateBlock (const void* data, int sizeInBytes)
    {
        constexpr juce::uint32 magic = 0x21324356;

        if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != magic)
            return {};

        const auto length = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
        if (length <= 0)
            return {};

        const auto numBytes = (size_t) std::min (length, sizeInBytes - 8);
        return parseUntrustedXml (juce::addBytesToPointer (data, 8), numBytes, maximumStateDepth);
    }
} // namespace

void AudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = parseStateBlock (data, sizeInBytes);
    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (State::stateID.toString()))
        return;

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

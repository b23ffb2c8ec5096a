namespace cvx::ui
{

SpectrumDisplay::SpectrumDisplay()
    : fifo ((size_t) frameSize, 0.0f)
{
}

void SpectrumDisplay::prepare (float newSampleRate, int)
{
    sampleRate = newSampleRate;
    fft.prepare();

    readPosition.store (0);
    writePosition.store (0);
    capacity = 2 * frameSize;
    fifo.assign ((size_t) capacity, 0.0f);

    // The ring starts with one frame of silence already written, so the first block completes
    // a frame at once.
    writePosition.store (frameSize);

    // Resizing keeps a frame already handed to a consumer.
    work.resize ((size_t) (2 * frameSize), 0.0f);
}

int SpectrumDisplay::getNumReady() const noexcept
{
    const auto read = readPosition.load();
    const auto write = writePosition.load();
    return write >= read ? write - read : capacity - (read - write);
}

void SpectrumDisplay::pushBlock (juce::dsp::AudioBlock<float>& block, bool) noexcept
{
    if (block.getNumChannels() == 0)
        return;

    const auto numSamples = (int) juce::jmin (block.getNumSamples(), (size_t) std::numeric_limits<int>::max());
    const auto* input = block.getChannelPointer (0);
    auto* ring = fifo.data();

    auto read = readPosition.load (std::memory_order_acquire);
    auto write = writePosition.load (std::memory_order_relaxed);
    auto numReady = write >= read ? write - read : capacity - (read - write);

    const auto numToWrite = juce::jmin (numSamples, capacity - 1 - numReady);

    if (numToWrite > 0)
    {
        const auto first = juce::jmin (numToWrite, capacity - write);
        std::copy (input, input + first, ring + write);
        std::copy (input + first, input + numToWrite, ring);

        write += numToWrite;

        if (write >= capacity)
            write -= capacity;

        writePosition.store (write, std::memory_order_release);
        numReady += numToWrite;
    }

    if (numReady > frameSize)
    {
        if (! ready.load (std::memory_order_acquire) && work.size() >= (size_t) frameSize)
        {
            const auto first = juce::jmin (frameSize, capacity - read);
            std::copy (ring + read, ring + read + first, work.data());
            std::copy (ring, ring + (frameSize - first), work.data() + first);
            ready.store (true, std::memory_order_release);
        }

        read = (read + juce::jmin (numReady, numSamples)) % capacity;
        readPosition.store (read, std::memory_order_release);
    }
}

} // namespace cvx::ui

namespace cvx::dsp
{

FFT::FFT (int o)
    : order (o), size (1 << o)
{
    prepare();
}

void FFT::prepare()
{
    engine = std::make_unique<juce::dsp::FFT> (order);

    // Symmetric Hann window (zero at both ends), scaled so that its values sum to the frame
    // size: a sine then reads the same whatever the frame size.
    window.resize (size);
    const auto denominator = (float) (size - 1);
    double sum = 0.0;

    for (int i = 0; i < size; ++i)
    {
        const auto c = std::cos (juce::MathConstants<float>::twoPi * (float) i / denominator);
        const auto w = (float) (0.5 - 0.5 * (double) c);
        window.setUnchecked (i, w);
        sum += (double) w;
    }

    const auto scale = sum > 0.0 ? (double) size / sum : 1.0;

    for (int i = 0; i < size; ++i)
        window.setUnchecked (i, (float) ((double) window.getUnchecked (i) * scale));
}

} // namespace cvx::dsp

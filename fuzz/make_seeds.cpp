// Writes the made seeds of the fuzz targets into fuzz/seeds/<target>/ from the product's own
// processor: real state blocks, preset files and settings files, plus the factory presets.
// Beside them the folders hold what fuzzing learned (tools/merge-fuzz-corpus.sh).
//   usage: make_seeds FUZZ_FOLDER

#include "FuzzSupport.h"
#include <plugin/Layout.h>

namespace
{
    void write (const juce::File& folder, const juce::String& name, const void* data, size_t size)
    {
        folder.createDirectory();
        folder.getChildFile (name).replaceWithData (data, size);
    }

    void write (const juce::File& folder, const juce::String& name, const juce::String& text)
    {
        write (folder, name, text.toRawUTF8(), text.getNumBytesAsUTF8());
    }

    /** Sets every parameter from the generator and the switches and "OVER" to one stage. */
    void randomise (VyxAudioProcessor& processor, juce::Random& random, int stage)
    {
        for (auto* p : processor.getParameters())
            p->setValueNotifyingHost (random.nextFloat());
        processor.state.properties.setProperty (Properties::limiter, stage % 2 == 0, nullptr);
        processor.state.properties.setProperty (Properties::dryWet, stage >= 2, nullptr);
        processor.state.properties.setProperty (Properties::sidechain, stage == 3, nullptr);
        processor.state.attributes.setProperty (Attributes::oversampler, stage, nullptr);
    }
} // namespace

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: make_seeds FUZZ_FOLDER\n");
        return 2;
    }

    vyx::fuzz::initialise();
    const auto seeds = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]).getChildFile ("seeds");
    auto& processor = vyx::fuzz::getProcessor();
    juce::Random random (1210);

    const auto stateFolder = seeds.getChildFile ("state_fuzzer");
    const auto presetFolder = seeds.getChildFile ("preset_fuzzer");

    // A fresh instance, then four with every parameter moved and each "OVER" stage.
    for (int i = 0; i <= 4; ++i)
    {
        if (i > 0)
            randomise (processor, random, i - 1);

        juce::MemoryBlock block;
        processor.getStateInformation (block);
        write (stateFolder, "state-" + juce::String (i), block.getData(), block.getSize());
        write (presetFolder, "preset-" + juce::String (i) + ".preset", processor.state.toPreset().toXmlString());
    }

    // The factory presets as the presets menu reads them, and as the state a host would store.
    for (const auto& file : seeds.getParentDirectory().getParentDirectory().getChildFile ("resources/presets")
                                .findChildFiles (juce::File::findFiles, false, "*.preset"))
    {
        const auto name = file.getFileNameWithoutExtension().retainCharacters ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-");
        write (presetFolder, "factory-" + name + ".preset", file.loadFileAsString());
        if (auto xml = juce::parseXML (file))
        {
            juce::MemoryBlock block;
            juce::AudioProcessor::copyXmlToBinary (*xml, block);
            write (stateFolder, "factory-" + name, block.getData(), block.getSize());
        }
    }

    // Settings files: empty, text values (one not ASCII), and a binary value.
    const auto settingsFolder = seeds.getChildFile ("settings_fuzzer");
    {
        cvx::cache::ValueFile settings ("VyxSeeds");
        const auto& file = settings.getFile();
        for (int i = 0; i < 3; ++i)
        {
            settings.clear();
            if (i >= 1)
            {
                settings.set ("colour", "ff3a7bd5");
                settings.set ("name", juce::String::fromUTF8 ("Br\xc3\xbc" "cke \xe2\x86\x92 " "caf\xc3\xa9"));
            }
            if (i >= 2)
            {
                const char bytes[] { 0, 1, 2, 'V', 'C', '2', '!', (char) 0xff };
                settings.set ("blob", juce::var (juce::MemoryBlock (bytes, sizeof (bytes))));
            }
            settings.save();
            write (settingsFolder, "settings-" + juce::String (i), file.loadFileAsString());
        }
        file.deleteFile();
    }

    // Processing: byte strings of a few lengths; the target reads its choices from them.
    const auto processFolder = seeds.getChildFile ("process_fuzzer");
    for (const int size : { 16, 64, 256, 1024, 4096 })
    {
        juce::MemoryBlock bytes ((size_t) size);
        for (size_t i = 0; i < bytes.getSize(); ++i)
            bytes[i] = (char) random.nextInt (256);
        write (processFolder, "bytes-" + juce::String (size), bytes.getData(), bytes.getSize());
    }

    std::printf ("seeds written to %s\n", seeds.getFullPathName().toRawUTF8());
    return 0;
}

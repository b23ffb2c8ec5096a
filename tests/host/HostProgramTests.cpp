// The program list the built bundle publishes to a VST3 host: one program, named, as hosts
// show it in their program menus and as validators require.

#include "HostTestSupport.h"

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wshadow", "-Wnon-virtual-dtor", "-Wzero-as-null-pointer-constant",
                                     "-Wextra-semi", "-Wunused-parameter", "-Wfloat-equal")
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstunits.h>
JUCE_END_IGNORE_WARNINGS_GCC_LIKE

namespace
{

/** What the edit controller's unit information says about its program lists. */
struct ProgramLists
{
    bool found = false;
    struct List
    {
        juce::String name;
        juce::StringArray programs;
    };
    std::vector<List> lists;
};

ProgramLists readProgramLists (const juce::AudioPluginInstance& instance)
{
    struct Visitor : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override
        {
            // The wrapper's component answers for the units as its controller does.
            auto* component = client.getIComponentPtr();
            if (component == nullptr)
                return;

            Steinberg::Vst::IUnitInfo* units = nullptr;
            if (component->queryInterface (Steinberg::Vst::IUnitInfo::iid, (void**) &units) != Steinberg::kResultOk
                || units == nullptr)
                return;

            result.found = true;
            for (Steinberg::int32 i = 0; i < units->getProgramListCount(); ++i)
            {
                Steinberg::Vst::ProgramListInfo info {};
                if (units->getProgramListInfo (i, info) != Steinberg::kResultOk)
                    continue;

                ProgramLists::List list;
                list.name = juce::String (juce::CharPointer_UTF16 ((const juce::CharPointer_UTF16::CharType*) info.name));
                for (Steinberg::int32 k = 0; k < info.programCount; ++k)
                {
                    Steinberg::Vst::String128 name {};
                    if (units->getProgramName (info.id, k, name) == Steinberg::kResultOk)
                        list.programs.add (juce::String (juce::CharPointer_UTF16 ((const juce::CharPointer_UTF16::CharType*) name)));
                    else
                        list.programs.add ("<no name>");
                }
                result.lists.push_back (list);
            }
            units->release();
        }

        ProgramLists result;
    };

    Visitor visitor;
    instance.getExtensions (visitor);
    return visitor.result;
}

class HostProgram : public vyx::test::SharedInstanceTest<HostProgram>
{
};

TEST_F (HostProgram, OneProgramNamedDefault)
{
    const auto programs = readProgramLists (*instance);
    ASSERT_TRUE (programs.found) << "the plug-in offers no unit information";
    ASSERT_EQ (programs.lists.size(), 1u);
    ASSERT_EQ (programs.lists[0].programs.size(), 1);
    EXPECT_EQ (programs.lists[0].programs[0], "Default");
}

} // namespace

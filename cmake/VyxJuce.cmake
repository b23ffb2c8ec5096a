# Settings shared by every target that compiles JUCE.

add_library(vyx_juce_config INTERFACE)
target_compile_definitions(vyx_juce_config INTERFACE
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=1
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_SILENCE_XCODE_15_LINKER_WARNING=1)
# Options of this build that override the framework's recommended ones come after them on the
# command line: usage requirements are added in the order the libraries are linked.
add_library(vyx_late_options INTERFACE)
target_compile_options(vyx_late_options INTERFACE ${VYX_LATE_COMPILE_OPTIONS})
target_link_libraries(vyx_juce_config INTERFACE
    juce::juce_recommended_config_flags
    juce::juce_recommended_warning_flags
    vyx_late_options)

# Release builds optimise the plug-in across its whole program at link time. Only the code that
# goes into it (the framework, the maker library, the product) is compiled for that, and keeps
# its machine code as well (fat objects), so that the tests and tools can link it without.
# They must say so (-fno-lto): GCC's linker plugin otherwise takes the fat objects for link-time
# code and optimises every test program as a whole too, which costs minutes per program.
# JUCE's own LTO flag links serially, so GCC is let use every core.
set(VYX_LTO $<AND:$<CONFIG:Release>,$<CXX_COMPILER_ID:GNU>>)
set(VYX_LTO_COMPILE "$<${VYX_LTO}:-flto=auto;-ffat-lto-objects>")
set(VYX_LTO_LINK $<AND:${VYX_LTO},$<BOOL:$<TARGET_PROPERTY:VYX_LINK_TIME_OPTIMISED>>>)
target_link_options(vyx_juce_config INTERFACE "$<${VYX_LTO}:$<IF:${VYX_LTO_LINK},-flto=auto,-fno-lto>>")

# LLVM's linker, when installed, links the programs several times faster than GNU ld (whose
# time grows with the debug information of the static framework). GCC's link-time optimisation
# needs a linker that loads its plug-in, so the programs optimised that way keep the default.
find_program(VYX_LLD ld.lld)
if(VYX_LLD)
    target_link_options(vyx_juce_config INTERFACE "$<$<NOT:${VYX_LTO_LINK}>:-fuse-ld=lld>")
endif()

# Marks a program or library that is optimised across the whole program at link time (the
# plug-in and the engine benchmark).
function(vyx_link_time_optimise target)
    target_compile_options(${target} PRIVATE ${VYX_LTO_COMPILE})
    set_target_properties(${target} PROPERTIES VYX_LINK_TIME_OPTIMISED TRUE)
endfunction()

# The JUCE modules the maker library and the product need.
set(VYX_JUCE_MODULES
    juce::juce_audio_basics
    juce::juce_audio_processors
    juce::juce_audio_utils
    juce::juce_core
    juce::juce_data_structures
    juce::juce_dsp
    juce::juce_events
    juce::juce_graphics
    juce::juce_gui_basics
    juce::juce_gui_extra)

# Builds a static library of JUCE modules (plus extra module targets) that several programs and
# the plug-in's shared library link. The module targets are linked privately, so that their
# sources are compiled here and nowhere else; the include directories and definitions they were
# compiled with are re-exported so that every user sees the same class layouts.
function(vyx_add_juce_static_library name)
    cmake_parse_arguments(ARG "" "" "MODULES;DEFINITIONS" ${ARGN})
    add_library(${name} STATIC)
    target_link_libraries(${name}
        PRIVATE ${VYX_JUCE_MODULES} ${ARG_MODULES} juce::pkgconfig_JUCE_CURL_LINUX_DEPS
        PUBLIC vyx_juce_config)
    target_compile_definitions(${name} PUBLIC ${ARG_DEFINITIONS})
    target_include_directories(${name} INTERFACE
        $<TARGET_PROPERTY:${name},INCLUDE_DIRECTORIES>)
    target_compile_definitions(${name} INTERFACE
        $<TARGET_PROPERTY:${name},COMPILE_DEFINITIONS>)
    target_link_libraries(${name} INTERFACE juce::pkgconfig_JUCE_IMG_LINUX_DEPS
        juce::pkgconfig_JUCE_CURL_LINUX_DEPS)
    vyx_set_shared_library_code(${name})
endfunction()

# Code that ends up in the plug-in's shared library: position independent, nothing exported
# but the plug-in's entry points, and ready for link-time optimisation.
function(vyx_set_shared_library_code target)
    target_compile_options(${target} PRIVATE ${VYX_LTO_COMPILE})
    set_target_properties(${target} PROPERTIES
        POSITION_INDEPENDENT_CODE TRUE
        VISIBILITY_INLINES_HIDDEN TRUE
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden)
endfunction()

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
target_link_libraries(vyx_juce_config INTERFACE
    juce::juce_recommended_config_flags
    juce::juce_recommended_warning_flags)

# JUCE's own LTO flag links serially; let GCC use every core.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(vyx_juce_config INTERFACE $<$<CONFIG:Release>:-flto=auto>)
    target_link_options(vyx_juce_config INTERFACE $<$<CONFIG:Release>:-flto=auto>)
endif()

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

# Builds a static library of JUCE modules (plus extra module targets and sources) that several
# executables can link: the include directories and definitions it was compiled with are
# re-exported so that its users see the same class layouts.
function(vyx_add_juce_static_library name)
    cmake_parse_arguments(ARG "" "" "MODULES;SOURCES;DEFINITIONS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
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
    set_target_properties(${name} PROPERTIES
        POSITION_INDEPENDENT_CODE TRUE
        VISIBILITY_INLINES_HIDDEN TRUE
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden)
endfunction()

# The framework, the maker library and the product's code in one static library for programs
# that run the product in-process (the tests, the test host, the benchmarks), with VST3 hosting
# and modal loops for the test host's loader and any further definitions given.
function(vyx_add_product_library name)
    cmake_parse_arguments(ARG "" "" "DEFINITIONS" ${ARGN})
    vyx_add_juce_static_library(${name}
        MODULES cvx_core
        SOURCES ${VYX_PLUGIN_SOURCES}
        DEFINITIONS
            JUCE_PLUGINHOST_VST3=1
            JUCE_MODAL_LOOPS_PERMITTED=1
            CVX_PRODUCT_NAME="Vyx"
            CVX_PRODUCT_VERSION="0.8.0"
            ${ARG_DEFINITIONS})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC cvx_assets)
endfunction()

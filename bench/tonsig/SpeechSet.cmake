# The talkers of the tone-analyser quality sets, spoken by espeak-ng at build time into
# ${TELVOX_SPEECH_SET_DIR}. Targets that read them depend on telvox_speech_set.
if(NOT TARGET telvox_speech_set)
  set(TELVOX_SPEECH_SET_DIR ${PROJECT_BINARY_DIR}/speech-set CACHE INTERNAL "")
  add_custom_command(
    OUTPUT ${TELVOX_SPEECH_SET_DIR}/stamp
    COMMAND ${PROJECT_SOURCE_DIR}/bench/tonsig/make-speech-set ${TELVOX_SPEECH_SET_DIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/bench/tonsig/make-speech-set
    COMMENT "Speaking the talkers of the tone quality sets")
  add_custom_target(telvox_speech_set DEPENDS ${TELVOX_SPEECH_SET_DIR}/stamp)
endif()

# Adds the quality-set generator to `target`.
function(telvox_use_tone_quality target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/bench/tonsig/ToneQuality.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/bench/tonsig)
  target_link_libraries(${target} PRIVATE telvox_audio telvox_sim telvox_test_support)
  target_compile_definitions(${target} PRIVATE TELVOX_SPEECH_SET_DIR="${TELVOX_SPEECH_SET_DIR}")
  add_dependencies(${target} telvox_speech_set)
endfunction()

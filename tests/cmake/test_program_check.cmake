# cmake -DKIT_SOURCE=<repository> -P test_program_check.cmake
# A missing test program fails the configure step in CI and only warns elsewhere; a present one
# passes in either. Each case is a cmake of its own, so that its environment and cache are its own.
if(DEFINED PROBE)
    include(${KIT_SOURCE}/cmake/kit_test_program.cmake)
    kit_find_test_program(KIT_PROBED_PROGRAM ${PROBE} "the probe's tests are left out")
    return()
endif()

function(run_case name ci probe want_ok want_text)
    if(ci)
        set(env ${CMAKE_COMMAND} -E env CI=true)
    else()
        set(env ${CMAKE_COMMAND} -E env --unset=CI)
    endif()
    execute_process(COMMAND ${env} ${CMAKE_COMMAND} -DKIT_SOURCE=${KIT_SOURCE} -DPROBE=${probe}
                            -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(text "${out}${err}")
    if(want_ok AND NOT result EQUAL 0)
        message(SEND_ERROR "${name}: failed (${result}) where it should pass:\n${text}")
    elseif(NOT want_ok AND result EQUAL 0)
        message(SEND_ERROR "${name}: passed where it should fail:\n${text}")
    endif()
    if(want_text AND NOT text MATCHES "${want_text}")
        message(SEND_ERROR "${name}: no \"${want_text}\" in:\n${text}")
    elseif(NOT want_text AND text MATCHES "not found")
        message(SEND_ERROR "${name}: a warning for a program that is there:\n${text}")
    endif()
endfunction()

set(missing kit-no-such-program-at-all)
run_case("missing in CI" TRUE ${missing} FALSE "CMake Error.*${missing} not found")
run_case("missing elsewhere" FALSE ${missing} TRUE "CMake Warning.*${missing} not found")
run_case("present in CI" TRUE cmake TRUE "")

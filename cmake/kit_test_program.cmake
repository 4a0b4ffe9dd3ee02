# A program that some tests need in order to run at all. Missing on a developer's machine, the tests
# are left out with a warning; missing in CI (CI=true) the configure step fails, so that a green
# run never stands for tests that were not run.
function(kit_find_test_program var name lost)
    find_program(${var} ${name})
    if(${var})
        return()
    endif()
    set(text "${name} not found (scripts/setup.sh installs it): ${lost}")
    if("$ENV{CI}" STREQUAL "true")
        message(FATAL_ERROR "${text}")
    endif()
    message(WARNING "${text}")
endfunction()

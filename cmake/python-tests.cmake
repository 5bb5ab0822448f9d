# How the Python tests run under CTest: one test per pytest file, so that
# `ctest -j` runs the files side by side, each importing the module just built
# under the interpreter it was built for.
#
# Under LIGNOR_SANITIZE the module carries ASan and UBSan but the interpreter
# does not, so the ASan runtime must be the first library loaded: it is
# preloaded, and libstdc++ with it, because the runtime's __cxa_throw
# interceptor looks the real one up when it starts and the interpreter itself
# does not link libstdc++. The interpreter keeps much of what it allocates
# until the process ends, so leak detection is off for pytest; the GoogleTest
# programs keep it, the embedded interpreter's own allocations suppressed.

set(LIGNOR_PYTEST_ENVIRONMENT
  "PYTHONPATH=$<TARGET_FILE_DIR:lignor_python>"
  "LIGNOR_CORPUS_DIR=${LIGNOR_CORPUS_DIR}"
  "LIGNOR_HYPOTHESIS_DIR=${CMAKE_BINARY_DIR}/hypothesis")
# Read by LeakSanitizer only, so harmless in other builds.
set(LIGNOR_EMBEDDED_PYTHON_ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan-embedded-python.supp")

if(LIGNOR_SANITIZE)
  set(preload "")
  foreach(runtime libasan.so libstdc++.so)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
      message(FATAL_ERROR "LIGNOR_SANITIZE runs pytest with ${runtime} preloaded, and "
              "${CMAKE_CXX_COMPILER} does not know where it is (build the sanitizer lane with "
              "g++, or pass -DLIGNOR_BUILD_PYTHON=OFF)")
    endif()
    list(APPEND preload ${path})
  endforeach()
  string(REPLACE ";" ":" preload "${preload}")
  list(APPEND LIGNOR_PYTEST_ENVIRONMENT "LD_PRELOAD=${preload}" "ASAN_OPTIONS=detect_leaks=0")
endif()

function(lignor_add_pytest_files folder)
  file(GLOB files CONFIGURE_DEPENDS ${folder}/test_*.py)
  foreach(file IN LISTS files)
    get_filename_component(stem ${file} NAME_WE)
    string(REGEX REPLACE "^test_" "" area ${stem})
    # --capture=sys leaves file descriptor 2 alone, so a sanitizer report
    # written there just before the process exits is not lost with pytest's
    # capture file.
    add_test(NAME pytest.${area}
             COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider --capture=sys ${file})
    # Each file takes seconds where a GoogleTest case takes milliseconds:
    # starting them first keeps both cores busy to the end.
    set_tests_properties(pytest.${area} PROPERTIES ENVIRONMENT "${LIGNOR_PYTEST_ENVIRONMENT}"
                         COST 100)
  endforeach()
endfunction()

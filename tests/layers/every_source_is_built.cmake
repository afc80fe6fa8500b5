# Every C++ source file of the tree is compiled by some target: with explicit source lists,
# a file that nobody lists would otherwise be silently left out (fuzz/ has its own build).
file(READ ${COMPILE_COMMANDS} commands)
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/platform/*.cpp ${SOURCE_DIR}/core/*.cpp ${SOURCE_DIR}/settings/*.cpp
    ${SOURCE_DIR}/mail/*.cpp ${SOURCE_DIR}/desktop/*.cpp ${SOURCE_DIR}/service/*.cpp
    ${SOURCE_DIR}/gui/*.cpp ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/bench/*.cpp
    ${SOURCE_DIR}/tools/*.cpp)
if(NOT WITH_BENCH)
    list(FILTER sources EXCLUDE REGEX "^bench/")
endif()
set(missing)
foreach(source ${sources})
    string(FIND "${commands}" "${SOURCE_DIR}/${source}\"" at)
    if(at EQUAL -1)
        list(APPEND missing ${source})
    endif()
endforeach()
if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "Not built by any target:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources, each built by a target")

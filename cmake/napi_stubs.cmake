# Writes a C file defining every Node-API symbol the add-on core leaves
# undefined, each aborting if ever called. The C++ tests and benchmarks link
# it so the core's shared library loads outside a Node host (the pure code
# they exercise never calls into Node-API).
execute_process(COMMAND nm -D --undefined-only "${LIB}" OUTPUT_VARIABLE SYMS RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[ \t](napi_[A-Za-z0-9_]+|node_api_[A-Za-z0-9_]+)" MATCHES "${SYMS}")
set(BODY "/* Generated: Node-API stand-ins for tests outside a Node host. */\n#include <stdlib.h>\n")
set(SEEN "")
foreach(m ${MATCHES})
  string(STRIP "${m}" name)
  list(FIND SEEN "${name}" idx)
  if(idx EQUAL -1)
    list(APPEND SEEN "${name}")
    string(APPEND BODY "void ${name}(void) { abort(); }\n")
  endif()
endforeach()
file(WRITE "${OUT}.tmp" "${BODY}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")

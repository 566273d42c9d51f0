# Compiler flags shared by every target.
add_compile_options(-Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # Keeps template statics and inline variables out of the process-wide STB_GNU_UNIQUE namespace, so two
  # deliverables in one host never share them. clang never emits such symbols and rejects the flag.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
endif()

if(NX_SANITIZE)
  string(REPLACE "," ";" _nx_sans "${NX_SANITIZE}")
  foreach(s IN LISTS _nx_sans)
    add_compile_options(-fsanitize=${s})
    add_link_options(-fsanitize=${s})
  endforeach()
  add_compile_options(-fno-omit-frame-pointer)
  if(NX_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
  add_compile_definitions(NX_SANITIZER_BUILD=1)
endif()

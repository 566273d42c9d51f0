# Compiler flags shared by every target.
add_compile_options(-Wall -Wextra $<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # clang has no -fno-gnu-unique; it never emits STB_GNU_UNIQUE symbols anyway.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-unused-command-line-argument>)
endif()

if(NX_SANITIZE)
  string(REPLACE "," ";" _nx_sans "${NX_SANITIZE}")
  foreach(s IN LISTS _nx_sans)
    add_compile_options(-fsanitize=${s})
    add_link_options(-fsanitize=${s})
  endforeach()
  add_compile_options(-fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_definitions(NX_SANITIZER_BUILD=1)
endif()

# The compile policy every target of ours shares: C++20, warnings as errors,
# and Qt's stricter string and connection rules.
add_library(corvanta_policy INTERFACE)
target_compile_features(corvanta_policy INTERFACE cxx_std_20)
target_compile_options(corvanta_policy INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow=local -Wno-missing-field-initializers -Werror)
target_compile_definitions(corvanta_policy INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING
  QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER)

# corvanta_library(NAME folder DEPS ...): one static library per source folder,
# made of every .cpp in it. A folder without sources yet makes no target.
function(corvanta_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(NOT sources MATCHES "\\.cpp")
    return()
  endif()
  set(target corvanta_${folder})
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  set(deps)
  foreach(dep IN LISTS ARG_DEPS)
    if(dep MATCHES "^corvanta_")
      list(APPEND deps "$<TARGET_NAME_IF_EXISTS:${dep}>")
    else()
      list(APPEND deps ${dep})
    endif()
  endforeach()
  target_link_libraries(${target} PUBLIC corvanta_policy ${deps})
  set_property(GLOBAL APPEND PROPERTY CORVANTA_LIBRARIES ${target})
endfunction()

# vantor_folder_library(<target> [LINKS ...])
# Every .cpp of the calling folder except main.cpp becomes one library; the
# folder's own headers are public. A folder with no sources yet is an
# interface library, so the tree builds while it grows.
function(vantor_folder_library target)
  cmake_parse_arguments(L "" "" "LINKS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _sources EXCLUDE REGEX "/main\\.cpp$")
  if(_sources)
    file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${target} STATIC ${_sources} ${_headers})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${L_LINKS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${L_LINKS})
  endif()
endfunction()

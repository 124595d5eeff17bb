# velmar_library(target deps...): a static library of every .cpp in the calling folder.
# A folder without sources yet becomes an interface library, so the tree configures while
# pieces are still missing.
function(velmar_library target)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
    if(sources)
        add_library(${target} STATIC ${sources})
        target_link_libraries(${target} PUBLIC ${ARGN})
    else()
        add_library(${target} INTERFACE)
        target_link_libraries(${target} INTERFACE ${ARGN})
    endif()
endfunction()

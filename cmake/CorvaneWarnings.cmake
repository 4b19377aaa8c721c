# corvane_project_target(<target>): warnings and sanitizers for code we own.
# Third-party code (whisper.cpp) never gets these, so its warnings stay its own
# and sanitizer builds instrument only what we can fix.
function(corvane_project_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(CORVANE_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${CORVANE_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    # GCC's flow analysis sees through the sanitizers' instrumentation badly
    # and reports uninitialised reads inside std::variant that cannot happen.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
    target_link_options(${target} PRIVATE -fsanitize=${CORVANE_SANITIZE})
  endif()
endfunction()

# zrx_target_flags(<target>): the project's warning and sanitizer flags, per target.
function(zrx_target_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZRX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(ZRX_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all)
  endif()
endfunction()

# ASan + UBSan for the whole tree when VANTOR_SANITIZE is on.
if(VANTOR_SANITIZE)
  set(_vantor_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_options(${_vantor_san})
  add_link_options(${_vantor_san})
endif()

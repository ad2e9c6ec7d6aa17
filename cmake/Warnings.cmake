add_compile_options(-Wall -Wextra)
if(QUORVALE_WERROR)
    add_compile_options(-Werror)
endif()

# A manual page as HTML, which a Windows desktop can show.
#   cmake -DMANDOC=mandoc -DPAGE=docs/x.1 -DHTML=x.1.html -P html-page.cmake
execute_process(COMMAND ${MANDOC} -Thtml -Ofragment ${PAGE} OUTPUT_VARIABLE body
                COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(title ${PAGE} NAME)
file(WRITE ${HTML} "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                   "<title>${title}</title>\n</head>\n<body>\n${body}</body>\n</html>\n")

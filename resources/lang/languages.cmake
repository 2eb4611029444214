# The sixteen language tables as zel_embed_resources() entries. Every
# executable that shows the wizard's texts embeds them:
#
#   include(${PROJECT_SOURCE_DIR}/resources/lang/languages.cmake)
#   zel_embed_resources(<target> ENTRIES ${ZEL_LANGUAGE_RESOURCES} <its other entries>)
#
# English is 1000; the others follow in the order of zel::Language
# (shell/language.h).
set(_zel_lang_dir ${CMAKE_CURRENT_LIST_DIR})
set(ZEL_LANGUAGE_RESOURCES
  1000:LANG:${_zel_lang_dir}/en.txt
  1001:LANG:${_zel_lang_dir}/es.txt
  1002:LANG:${_zel_lang_dir}/zh_CN.txt
  1003:LANG:${_zel_lang_dir}/zh_TW.txt
  1004:LANG:${_zel_lang_dir}/cs.txt
  1005:LANG:${_zel_lang_dir}/de.txt
  1006:LANG:${_zel_lang_dir}/fr.txt
  1007:LANG:${_zel_lang_dir}/hu.txt
  1008:LANG:${_zel_lang_dir}/it.txt
  1009:LANG:${_zel_lang_dir}/ja.txt
  1010:LANG:${_zel_lang_dir}/nl.txt
  1011:LANG:${_zel_lang_dir}/nb.txt
  1012:LANG:${_zel_lang_dir}/pl.txt
  1013:LANG:${_zel_lang_dir}/pt.txt
  1014:LANG:${_zel_lang_dir}/ru.txt
  1015:LANG:${_zel_lang_dir}/sv.txt
)
unset(_zel_lang_dir)

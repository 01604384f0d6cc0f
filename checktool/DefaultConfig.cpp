#include "checktool/DefaultConfig.h"

// Several top-level sections side by side and no common root: the parser
// accepts that, and each checker asks for its own section by name.
const std::string g_strXml =
    R"(<hosts><hosts1 domain="local.tolvane.com" ip="127.0.0.1"/></hosts>)"
    R"(<setup><win>)"
    R"(<item1 key="HKEY_CLASSES_ROOT" sub_key="%s\shell\open\command" data="%s-watch.exe %%1" wtag="setup" current_path_enable="1"/>)"
    R"(<item2 key="HKEY_CLASSES_ROOT" sub_key="%s" data="URL:%s Protocol" wtag="url" current_path_enable="0"/>)"
    R"(<item3 key="HKEY_CLASSES_ROOT" sub_key="%s" data="" wtag="url_protocol" current_path_enable="0"/>)"
    R"(</win><linux>)"
    R"(<item1 key="/usr/share/applications/tolvane-url.desktop" data="tolvane %u"/>)"
    R"(</linux></setup>)";

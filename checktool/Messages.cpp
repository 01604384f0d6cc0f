// The message catalogue and the default language.
#include "checktool/ClientCheckTool.h"

#include "common/NSCheckerTool.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int kMessageCount = 37;

// Indexed by message id. No text holds "<", ">" or "&": the report inserts
// them into HTML as they are.
const char* const s_chineseTexts[kMessageCount] = {
    "错误检测报告",        // 0
    "生成时间：",          // 1
    "程序版本：",          // 2
    "正常",                // 3
    "异常",                // 4
    "启用压缩",            // 5
    "最大上传数量",        // 6
    "最大下载数量",        // 7
    "最大上传速度",        // 8
    "最大下载速度",        // 9
    "当前外网IP",          // 10
    "服务器域名",          // 11
    "服务器地址",          // 12
    "服务器端口",          // 13
    "Vexholm地址",         // 14
    "Vexholm端口",         // 15
    "Vexholm端口(SSL)",    // 16
    "用户名",              // 17
    "程序最近触发的异常",  // 18
    "是",                  // 19
    "否",                  // 20
    "系统版本：",          // 21
    "   版本号：",         // 22
    "Websocket端口",       // 23
    "时间",                // 24
    "异常信息",            // 25
    "名称",                // 26
    "检测结果",            // 27
    "修复结果",            // 28
    "备注",                // 29
    "程序启动项",          // 30
    "本地域名解析",        // 31
    "代理",                // 32
    "证书有效性",          // 33
    "成功",                // 34
    "失败",                // 35
    "内部错误",            // 36
};

const char* const s_englishTexts[kMessageCount] = {
    "Error report",        // 0
    "Time:",               // 1
    "Client version:",     // 2
    "Correct",             // 3
    "Error",               // 4
    "Enable compression",  // 5
    "Max upload",          // 6
    "Max download",        // 7
    "Max upload speed",    // 8
    "Max download speed",  // 9
    "Wan IP",              // 10
    "Server domain name",  // 11
    "Server address",      // 12
    "Server port",         // 13
    "Vexholm address",     // 14
    "Vexholm port",        // 15
    "Vexholm port(SSL)",   // 16
    "User name",           // 17
    "Recent errors",       // 18
    "Yes",                 // 19
    "No",                  // 20
    "System version:",     // 21
    "   Version:",         // 22
    "Websocket port",      // 23
    "Date",                // 24
    "Errors",              // 25
    "Name",                // 26
    "Check result",        // 27
    "Repair result",       // 28
    "Comment",             // 29
    "App Setup",           // 30
    "Domain Name",         // 31
    "Proxy",               // 32
    "Creatificate",        // 33
    "Success",             // 34
    "Defeated",            // 35
    "Internal error",      // 36
};

}  // namespace

std::string ClientCheckTool::GetString(int id) const {
  if (id < 0 || id >= kMessageCount) {
    return std::string();
  }
  return m_strLan == "cs" ? s_chineseTexts[id] : s_englishTexts[id];
}

std::string GetLan() {
  char buffer[128] = {};
  // The shell's output lands in a memory file, so a long LANG cannot fill a
  // pipe that nobody reads yet; a stop ends the shell.
  const int output = ::memfd_create("lang", MFD_CLOEXEC);
  if (output < 0) {
    return "en";
  }
  // LANG as the shell sees it, split into words (leading blanks go), but
  // never expanded as a pattern; no other locale variable counts.
  (void)NSCheckerTool::ShellOutput("set -f; echo $LANG", output);  // only the output matters
  const ssize_t got = ::pread(output, buffer, sizeof buffer, 0);
  ::close(output);  // read-only use: nothing to lose
  if (got >= 2 && ::strncasecmp(buffer, "zh", 2) == 0) {
    return "cs";
  }
  return "en";
}

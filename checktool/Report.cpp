// The report: one HTML table, a header row and one row per check.
#include "checktool/ClientCheckTool.h"

namespace {

std::string GreenCell(const std::string& text) {
  return "<td id=textcenter width=\"100\"><font color=\"#008000\">" + text + "</font></td>\n";
}

std::string RedCell(const std::string& text) {
  return "<td id=textcenter width=\"100\"><font color=\"red\">" + text + "</font></td>\n";
}

std::string PlainCell(const std::string& text) {
  return "<td id=textcenter width=\"100\">" + text + "</td>\n";
}

const char kEmptyCell[] = "<td id=textcenter width=\"100\"></td>\n";
const char kEmptyNarrowCell[] = "<td id=textcenter></td>\n";

}  // namespace

std::string ClientCheckTool::Check() {
  if (!m_bInited) {
    return "No inited.\n";
  }
  std::string report =
      "<table border=\"1\" align=\"center\" cellspacing=\"0\" cellpadding=\"8\">\n";
  // The header row is left open: the first data row's <tr> follows it. The
  // client has always been fed it this way.
  report += "<tr>\n";
  for (int id = 26; id <= 29; ++id) {
    report += "<th id=textcenter>" + GetString(id) + "</th>\n";
  }
  report += CheckHosts();
  report += CheckSetup();
  report += CheckCertificate();
  report += "</table><br/>\n";
  return report;
}

std::string ClientCheckTool::Row(int labelId, const std::string& cells) const {
  return "<tr>\n<td width=\"180\">" + GetString(labelId) + "</td>\n" + cells + "</tr>\n";
}

std::string ClientCheckTool::StatusCells(int check, int repair) const {
  if (check == 0) {
    return GreenCell(GetString(3)) + kEmptyNarrowCell + kEmptyCell;
  }
  if (check == 1) {
    return RedCell(GetString(4)) +
           (repair == 0 ? GreenCell(GetString(34)) : RedCell(GetString(35))) + kEmptyCell;
  }
  // Any other check code is an internal error: nothing was repaired.
  return RedCell(GetString(4)) + RedCell(GetString(35)) + PlainCell(GetString(36));
}

std::string ClientCheckTool::GetHostsMsgByCode(EmHostsCheckerState check,
                                               EmHostsCheckerState repair) {
  return StatusCells(check, repair);
}

std::string ClientCheckTool::GetSetupMsgByCode(EmSetupCheckerState check,
                                               EmSetupCheckerState repair) {
  return StatusCells(check, repair);
}

std::string ClientCheckTool::GetProxyMsgByCode(EmProxyCheckerState check,
                                               EmProxyCheckerState repair) {
  return StatusCells(check, repair);
}

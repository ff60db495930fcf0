#include "vorel/vorel_cmd_svc_set.h"
namespace {
int nothing(vorel_ctx *, svc_set_params *) {
    return 0;
}
int none(vorel_ctx *, services_ui_conn *, asp_info *, svc_set_info *, svc_set_params *) {
    return 0;
}
} // namespace
const svc_set_op svc_set_plugin_op = {"plugin", {"plugin", nothing, nothing, none}, nullptr};
const svc_set_op svc_set_policy_op = {"policy", {"policy", nothing, nothing, none}, nullptr};
const svc_set_op svc_set_syslog_op = {"syslog", {"syslog", nothing, nothing, none}, nullptr};
const svc_set_op svc_set_clear_syslog_op = {
    "clear_syslog", {"clear_syslog", nothing, nothing, none}, nullptr};
const svc_set_op svc_set_drop_flow_op = {
    "set_drop_flow_limit", {"set_drop_flow_limit", nothing, nothing, none}, nullptr};
const svc_set_op svc_set_qflow_log_op = {
    "qflow_log", {"qflow_log", nothing, nothing, none}, nullptr};
const svc_set_op svc_set_clear_qflow_log_op = {
    "clear_qflow_log", {"clear_qflow_log", nothing, nothing, none}, nullptr};

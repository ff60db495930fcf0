// Helpers the NAT actions share (vorel_cmd_nat.h).
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_string.h"

#include <cstdio>

nat_pic_name nat_shown_pic_name(const asp_info &asp) {
    nat_pic_name n;
    uint8_t is_member = 0;
    vorel_ms_name_of_mams(asp.name, &is_member, n.text);
    if (!is_member) {
        vorel_strlcpy(n.text, asp.name, sizeof n.text);
        return n;
    }
    n.twin_known = vorel_db_asp_find_by_name(n.text) != nullptr;
    return n;
}

bool nat_text_mode_refused(const vorel_ctx *ctxt, const char *line) {
    static bool noted = false;
    if (ctxt->xml)
        return false;
    std::fputs(line, stdout);
    if (!noted)
        vorel_note_failure("this view is shown only in XML (-X)");
    noted = true;
    return true;
}

std::string nat_addr_text(const vorel_addr &a) {
    char buf[80];
    return ipaddr_tostring(&a, buf, sizeof buf);
}

bool nat_addr_given(const vorel_addr &a) {
    return a.words[0] || a.words[1] || a.words[2] || a.words[3];
}

void nat_not_supported_on(const vorel_ctx *ctxt, const char *pic_name) {
    if (ctxt->xml)
        vorel_xml_error(1, "This command is not supported on %s interface\n\n", pic_name);
    else
        std::printf("This command is not supported on %s interface\n", pic_name);
}

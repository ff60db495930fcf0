// Which PICs a -s name reaches: past the first ordinary PIC with the
// service set the walk ends; once a bundle member had it, every later PIC
// with it is asked.
#include "vorel/vorel_cmd_svc_set.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

TEST(SvcSetChoice, TheFirstOrdinaryPicEndsTheWalkABundleMemberDoesNot) {
    vorel_db_clear();
    uint16_t fpc = 0;
    for (auto [name, svc] : {std::pair{"ms-1/0/0", "x"},
                             {"ms-2/0/0", "x"},
                             {"mams-3/0/0", "y"},
                             {"mams-4/0/0", "y"},
                             {"ms-5/0/0", "y"}}) {
        auto rec = std::make_unique<asp_info>();
        std::strncpy(rec->name, name, sizeof rec->name - 1);
        rec->flags = ASP_F_MSP;
        rec->fpc_slot = ++fpc;
        svc_set_info s;
        std::strncpy(s.name, svc, sizeof s.name - 1);
        s.style = 'B';
        vorel_db_svc_set_add(vorel_db_asp_add(std::move(rec), false), s);
    }
    for (auto [svc, chosen] : std::initializer_list<std::pair<const char *, const char *>>{
             {"x", "ms-1/0/0 "},
             {"y", "mams-3/0/0 mams-4/0/0 ms-5/0/0 "},
             {nullptr, "ms-1/0/0 ms-2/0/0 mams-3/0/0 mams-4/0/0 ms-5/0/0 "},
             {"nowhere", ""}}) {
        svc_set_params p;
        if (svc)
            p.svc_set_name = svc;
        std::string out;
        for (asp_info *a = nullptr; (a = vorel_db_asp_find_next(a));)
            if (svc_set_choose_pic_by_svc_set(*a, p))
                out += std::string(a->name) + " ";
        EXPECT_EQ(out, chosen) << (svc ? svc : "(none)");
    }
    vorel_db_clear();
}

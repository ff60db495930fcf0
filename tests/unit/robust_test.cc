// Names from the kernel that reach file paths: the loader's dump files stay
// in /tmp whatever the name holds, and never follow a link planted there.
#include "lab_fixture.h"
#include "vorel/vorel_db.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool is_link(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

TEST(DumpFiles, KernelNamesStayInTmpAndLinksAreNotFollowed) {
    std::string id = std::to_string(::getpid());
    std::string linked = "vorel-robust-link-" + id;
    std::string up = "/../vorel-robust-up-" + id;
    std::string group = "a/../../vorel-robust-tg-" + id;
    vorel::test::LabRun lab("interfaces:\n"
                            "  - {index: 10, name: ms-1/0/0, type: 102, fpc: 1, pic: 0}\n"
                            "service_sets:\n"
                            "  - {name: " + linked + ", id: 1, pic: ms-1/0/0}\n"
                            "  - {name: \"" + up + "\", id: 2, pic: ms-1/0/0}\n"
                            "tunnel_groups:\n"
                            "  - {id: 3, name: \"" + group + "\", fpc: 1, pic: 0}\n");
    ASSERT_TRUE(lab.started);
    // Someone planted a link where the first dump file goes.
    std::string target = lab.dir.file("target");
    std::string link_path = "/tmp/asp_cfg_svc_set_" + linked + ".bin";
    ::unlink(link_path.c_str());
    ASSERT_EQ(::symlink(target.c_str(), link_path.c_str()), 0);

    testing::internal::CaptureStdout();
    vorel_db_init(nullptr, nullptr, 1);
    std::string out = testing::internal::GetCapturedStdout();
    vorel_db_clear();

    std::string up_file = "/tmp/asp_cfg_svc_set__.._vorel-robust-up-" + id + ".bin";
    std::string group_file = "/tmp/asp_cfg_svc_set_a_.._.._vorel-robust-tg-" + id + ".bin";
    EXPECT_FALSE(exists(target)) << "the dump followed the planted link";
    EXPECT_TRUE(is_link(link_path));
    EXPECT_TRUE(exists(up_file));
    EXPECT_TRUE(exists(group_file));
    EXPECT_FALSE(exists("/vorel-robust-up-" + id + ".bin"));
    EXPECT_FALSE(exists("/vorel-robust-tg-" + id + ".bin"));
    EXPECT_NE(out.find("Dumped " + up + " (id 2) to " + up_file + "\n"), std::string::npos) << out;
    for (const auto &p : {link_path, up_file, group_file})
        ::unlink(p.c_str());
}

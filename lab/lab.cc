#include "lab/lab.h"

#include "lab/scenario.h"
#include "platform/sockio.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <glob.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace vorel::lab {

Lab::Lab() : modules_(make_modules()) {
    rt_.services[lab_link::kLab] = [this](uint16_t op, ByteReader) { return lab_service(op); };
}

Lab::~Lab() {
    stop();
}

namespace {

std::string folder_of(const std::string &file) {
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

// The files an include entry names: a path relative to the including
// file, or a pattern ("demo/*.yaml") whose matches are taken in name order.
std::vector<std::string> expand_include(const std::string &base, const std::string &entry) {
    std::string pattern = !entry.empty() && entry[0] == '/' ? entry : folder_of(base) + "/" + entry;
    std::vector<std::string> files;
    glob_t g{};
    if (::glob(pattern.c_str(), 0, nullptr, &g) == 0)
        for (size_t i = 0; i < g.gl_pathc; i++)
            files.push_back(g.gl_pathv[i]);
    globfree(&g);
    return files;
}

} // namespace

// Checks the top-level keys and hands the document to every module.
void Lab::load_document(const YAML::Node &root, ScenarioReader &reader, bool main_file) {
    if (!root.IsMap()) {
        reader.error(root, "a scenario is a map of sections (interfaces, agents, chassis, ...)");
        return;
    }
    documents_.push_back(root);
    std::set<std::string> known{"name", "description", "include"};
    for (auto &m : modules_)
        for (auto &s : m->sections())
            known.insert(s);
    for (const auto &kv : root)
        if (!known.count(kv.first.Scalar()))
            reader.error(kv.first, "unknown section '" + kv.first.Scalar() + "'");
    if (!main_file && root["include"])
        reader.error(root["include"], "an included file cannot include others");
    for (auto &m : modules_) {
        try {
            if (main_file)
                m->load(root, reader);
            else
                m->load_include(root, reader);
        } catch (const YAML::Exception &e) {
            reader.error_at(e.mark.is_null() ? -1 : e.mark.line, e.mark.column,
                            std::string(m->name()) + ": " + e.msg);
        }
    }
}

bool Lab::load(const std::string &file, std::vector<std::string> &errors) {
    ScenarioReader reader(file);
    YAML::Node root = load_yaml_file(reader);
    errors.clear();
    if (!reader.failed()) {
        rt_.name = root.IsMap() ? reader.text_or(root, "name", file) : file;
        load_document(root, reader, true);
    }
    errors = reader.errors();
    // Included files add to what the main file describes: lists are
    // appended, and rules for an agent already named are added after its own.
    YAML::Node includes;
    bool has_includes = root.IsMap() && root["include"];
    if (has_includes) {
        includes = root["include"];
        if (!includes.IsSequence()) {
            errors.push_back(file + ": include is a list of files or patterns");
            has_includes = false;
        }
    }
    if (has_includes) {
        for (const auto &entry : includes) {
            if (!entry.IsScalar()) {
                errors.push_back(file + ": an include entry is a file name or a pattern");
                continue;
            }
            std::vector<std::string> files = expand_include(file, entry.Scalar());
            if (files.empty())
                errors.push_back(file + ":" + std::to_string(entry.Mark().line + 1) +
                                 ": include '" + entry.Scalar() + "' names no file");
            for (const auto &f : files) {
                ScenarioReader r(f);
                YAML::Node doc = load_yaml_file(r);
                if (!r.failed())
                    load_document(doc, r, false);
                errors.insert(errors.end(), r.errors().begin(), r.errors().end());
            }
        }
    }
    return errors.empty();
}

bool Lab::start(unsigned net, const std::string &socket, std::string &err) {
    socket_ = socket;
    listen_fd_ = unix_listen(socket);
    if (listen_fd_ < 0) {
        err = "control socket " + socket + ": " + errno_text(errno);
        return false;
    }
    // With no network given, start from a random one so that parallel labs
    // rarely collide, and move on while addresses are taken.
    std::vector<unsigned> nets;
    if (net) {
        nets.push_back(net);
    } else {
        // Networks above kAutoNetLast are left to tests that need a fixed one.
        constexpr unsigned kAutoNetLast = 239;
        std::random_device rd;
        unsigned first = 1 + rd() % kAutoNetLast;
        for (unsigned i = 0; i < kAutoNetLast; i++)
            nets.push_back(1 + (first - 1 + i) % kAutoNetLast);
    }
    for (unsigned n : nets) {
        rt_.net = n;
        int rc = 0;
        size_t started = 0;
        for (; started < modules_.size(); started++) {
            rc = modules_[started]->start(rt_, err);
            if (rc)
                break;
        }
        if (!rc)
            rc = serve_control(err);
        if (!rc) {
            started_ = true;
            return true;
        }
        for (size_t i = 0; i < started; i++)
            modules_[i]->stop();
        if (rc != EADDRINUSE || net)
            break;
    }
    ::close(listen_fd_);
    listen_fd_ = -1;
    ::unlink(socket_.c_str());
    if (err.empty())
        err = "no free agent network";
    return false;
}

// 0, or the error number with err explained.
int Lab::serve_control(std::string &err) {
    bool ok = control_.start({listen_fd_}, [this](size_t, int fd) {
        std::lock_guard<std::mutex> g(mu_);
        open_fds_.push_back(fd);
        return [this, fd] { serve_connection(fd); };
    });
    if (ok)
        return 0;
    int e = errno;
    err = "control socket " + socket_ + ": " + errno_text(e);
    return e;
}

void Lab::serve_connection(int fd) {
    std::vector<uint8_t> frame;
    StreamReader in(fd);
    while (!rt_.stopping && read_frame(in, frame, lab_link::kMaxFrame)) {
        ByteReader r(frame);
        lab_link::Answer a;
        if (frame.size() < 4) {
            a.status = EPROTO;
        } else {
            auto it = rt_.services.find(r.be16(0));
            if (it == rt_.services.end())
                a.status = ENOSYS;
            else
                a = it->second(r.be16(2), r.tail(4));
        }
        ByteAppender out;
        out.be32(static_cast<uint32_t>(a.status));
        out.bytes(a.body.data(), a.body.size());
        if (!write_frame(fd, out.buffer().data(), out.size()))
            break;
    }
    std::lock_guard<std::mutex> g(mu_);
    auto it = std::find(open_fds_.begin(), open_fds_.end(), fd);
    if (it != open_fds_.end()) {
        open_fds_.erase(it);
        ::close(fd);
    }
}

lab_link::Answer Lab::lab_service(uint16_t op) {
    lab_link::Answer a;
    ByteAppender body;
    switch (op) {
    case lab_link::kPing:
        body.str16(rt_.name);
        break;
    case lab_link::kRequestLog: {
        std::string t = rt_.request_log.text();
        body.be32(static_cast<uint32_t>(t.size()));
        body.bytes(t.data(), t.size());
        break;
    }
    case lab_link::kKernelChanges: {
        std::string t = rt_.kernel_changes.text();
        body.be32(static_cast<uint32_t>(t.size()));
        body.bytes(t.data(), t.size());
        break;
    }
    case lab_link::kReset:
        for (auto &reset : rt_.resets)
            reset();
        break;
    case lab_link::kStop: {
        std::lock_guard<std::mutex> g(stop_mu_);
        rt_.stopping = true;
        stop_cv_.notify_all();
        break;
    }
    default:
        a.status = ENOSYS;
    }
    a.body = body.take();
    return a;
}

void Lab::wait() {
    std::unique_lock<std::mutex> g(stop_mu_);
    stop_cv_.wait(g, [this] { return rt_.stopping.load(); });
}

void Lab::stop() {
    {
        std::lock_guard<std::mutex> g(stop_mu_);
        rt_.stopping = true;
        stop_cv_.notify_all();
    }
    if (!started_)
        return;
    started_ = false;
    control_.stop_accepting();
    {
        std::lock_guard<std::mutex> g(mu_);
        for (int fd : open_fds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    control_.join();
    for (auto &m : modules_)
        m->stop();
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    listen_fd_ = -1;
    ::unlink(socket_.c_str());
}

} // namespace vorel::lab

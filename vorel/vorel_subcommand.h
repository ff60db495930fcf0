// A command's sub-command table: the words -S takes, the action each word
// names and the settings that go with it.
//
// A row is {word, action, settings, when}: `settings` is what the family's
// parameter block takes from the row (a statistics type, a view, a few
// optional fields), `when` what else the command line must say for the row
// to apply (the count flag, the command word; nothing by default).  The
// family looks a word up with vorel_subcommand_find and applies the row's
// settings its own way.
//
// -A names an action directly.  Several rows may name the same action
// with different settings (the statistics words that all show the same
// page, each asking for part of it); -A then applies only what those rows
// share: vorel_subcommand_shared.
#pragma once

#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"

#include <concepts>
#include <cstddef>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

// The `when` of rows that need nothing more than their word, and the
// settings of rows that bring nothing but their action.
struct vorel_no_condition {
    bool operator==(const vorel_no_condition &) const = default;
};
using vorel_no_settings = vorel_no_condition;

template <typename Settings, typename When = vorel_no_condition> struct vorel_subcommand {
    using settings_type = Settings;
    const char *word;
    const char *action;
    Settings settings = {};
    When when = {};
};

template <typename Rows> using vorel_subcommand_row = std::ranges::range_value_t<const Rows>;

// The first row of `word` whose `when` satisfies when_ok(row.when); null
// when there is none (or no word was given).  Words compare whole.
template <typename Rows, typename WhenOk>
const vorel_subcommand_row<Rows> *vorel_subcommand_find(const Rows &rows, std::string_view word,
                                                        WhenOk &&when_ok) {
    for (const auto &row : rows)
        if (word == row.word && when_ok(row.when))
            return &row;
    return nullptr;
}
template <typename Rows>
const vorel_subcommand_row<Rows> *vorel_subcommand_find(const Rows &rows, std::string_view word) {
    return vorel_subcommand_find(rows, word, [](const auto &) { return true; });
}
template <typename Rows, typename Word, typename... WhenOk>
requires std::same_as<Word, std::optional<std::string>>
const vorel_subcommand_row<Rows> *vorel_subcommand_find(const Rows &rows, const Word &word,
                                                        WhenOk &&...when_ok) {
    return word ? vorel_subcommand_find(rows, std::string_view(*word),
                                        std::forward<WhenOk>(when_ok)...)
                : nullptr;
}

namespace vorel_subcommand_detail {

// Settings that give their fields as `auto fields()` (a std::tie) are
// shared field by field; any other settings are shared as a whole.
template <typename S>
concept by_field = requires(S s) {
    s.fields();
};

template <typename Mine, typename Theirs, std::size_t... I>
void keep_equal_fields(Mine mine, const Theirs &theirs, std::index_sequence<I...>) {
    ((std::get<I>(mine) == std::get<I>(theirs) ? void() : void(std::get<I>(mine) = {})), ...);
}

// What of `shared` the next row also makes stays; the rest returns to the
// settings' unset value ({}).
template <typename S> void keep_shared(S &shared, S row) {
    if constexpr (by_field<S>) {
        auto mine = shared.fields();
        keep_equal_fields(mine, row.fields(),
                          std::make_index_sequence<std::tuple_size_v<decltype(mine)>>());
    } else if (!(shared == row)) {
        shared = S{};
    }
}

} // namespace vorel_subcommand_detail

// The settings every row naming `action` makes: a field (or, for settings
// without fields(), the whole) on which two such rows differ is left unset
// ({}), so the options decide it.  Nothing when no row names the action.
template <typename Rows>
std::optional<typename vorel_subcommand_row<Rows>::settings_type>
vorel_subcommand_shared(const Rows &rows, std::string_view action) {
    std::optional<typename vorel_subcommand_row<Rows>::settings_type> shared;
    for (const auto &row : rows) {
        if (action != row.action)
            continue;
        if (!shared)
            shared = row.settings;
        else
            vorel_subcommand_detail::keep_shared(*shared, row.settings);
    }
    return shared;
}

// A command line that names no action (no -A, and no row for its words):
// "FAMILY: no action for command C, subcommand S" noted as the run's
// failure.  -1, the handler's result.
int vorel_note_no_action(const char *family, const std::optional<std::string> &command,
                         const std::optional<std::string> &subcommand);

// -A, -C and -S, which every command with a sub-command table reads alike:
// the action, the command word and the sub-command word into the
// parameter block's `action`, `command` and `subcommand`.  False for any
// other letter (the caller's own switch reads it).
template <typename Params> bool vorel_command_word_option(int c, Params *p) {
    switch (c) {
    case 'A':
        p->action = vorel_optarg;
        return true;
    case 'C':
        p->command = vorel_optarg;
        return true;
    case 'S':
        p->subcommand = vorel_optarg;
        return true;
    default:
        return false;
    }
}

// The command words and -i (the interface, into `if_name`) and -t (tracing
// on), which the firewall/NAT and softwire families read alike.
template <typename Params> bool vorel_command_and_interface_option(int c, Params *p) {
    if (vorel_command_word_option(c, p))
        return true;
    switch (c) {
    case 'i':
        p->if_name = vorel_optarg;
        return true;
    case 't':
        debug = 1;
        return true;
    default:
        return false;
    }
}

#pragma once

#include <list>
#include <string>

#include "ecm_log.h"
#include "xelo_ethercat_cfg.h"

// The init commands of the master or of one slave are kept in one list per
// state transition, indexed by TransitionType (IP .. OI).

// Appends cmd to the list of each transition it names; boot transitions are
// not kept.
template <typename Command>
void sort_by_transition(const Command& cmd, const std::list<TransitionType>& transitions,
                        std::list<Command>* const lists[9])
{
    for (TransitionType t : transitions)
        if (t >= IP && t <= OI)
            lists[t]->push_back(cmd);
}

// The INF lines that count the commands of each list, under heading.
template <typename Command>
void log_init_cmd_counts(const std::string& heading, std::list<Command>* const lists[9])
{
    static const struct {
        const char* name;
        TransitionType transition;
    } order[] = {{"IP", IP}, {"PS", PS}, {"SO", SO}, {"OS", OS}, {"OP", OP},
                 {"OI", OI}, {"SP", SP}, {"SI", SI}, {"PI", PI}};
    ecm_log_inf(heading);
    for (const auto& row : order)
        ecm_log_inf(std::string("\tm_initCmd_") + row.name + "_transition " +
                    std::to_string(lists[row.transition]->size()));
}

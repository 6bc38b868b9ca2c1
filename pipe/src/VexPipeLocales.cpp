#include "kyro/pipe/VexPipeFacility.h"

namespace {

const char* const kLocaleNames =
    "cs_CZ de_DE en_US es_ES fr_FR hu_HU it_IT ja_JP ko_KR pl_PL pt_BR pt_PT ru_RU zh_CN zh_TW";

// Alias, then the locale it stands for.
const char* const kAliases[][2] = {{"en_CA", "en_US"}};

TMap<TStr, TStr> buildTable()
{
    TMap<TStr, TStr> table(17);
    TStr names(kLocaleNames);
    while (!names.isEmpty()) {
        const TStr name = names.nextToken(" ");
        if (!name.isEmpty())
            table.insert(name, name);
    }
    for (const auto& alias : kAliases) {
        if (table.find(TStr(alias[1])) != table.end())
            table.insert(TStr(alias[0]), TStr(alias[1]));
    }
    return table;
}

}  // namespace

const TMap<TStr, TStr>& vexLocaleTable()
{
    static const TMap<TStr, TStr> table = buildTable();
    return table;
}

TList<TStr> vexLocaleNames()
{
    return vexLocaleTable().keys();
}

#include "monitor/serverinfo.h"

#include <gtest/gtest.h>

#include <QMap>

using namespace palisor;

namespace {

QString NoAlias(const QString& name) { return name; }

// A server whose variables answer from a table and which remembers what was read.
struct FakeVariables {
    QMap<QString, QString> values;
    QStringList reads;
    QString operator()(const QString& name)
    {
        reads.append(name);
        return values.value(name);
    }
};

}  // namespace

TEST(ServerInfo, KeysArePaddedAndOnlyTheFirstColonCounts)
{
    const QStringList info = NormaliseServerInfo({
        "Server info settings:",
        "sv_hostname          : My Server",
        "   g_gametypestring  : Team-Match",
        "motd: read: the rules",
        "no separator here",
    });
    EXPECT_EQ(ServerInfoValue(info, "sv_hostname"), "My Server");
    EXPECT_EQ(ServerInfoValue(info, "SV_HOSTNAME"), "My Server");
    EXPECT_EQ(ServerInfoValue(info, "g_gametypestring"), "Team-Match");
    EXPECT_EQ(ServerInfoValue(info, "motd"), "read: the rules");
    EXPECT_EQ(ServerInfoValue(info, "mapname"), "");
    EXPECT_EQ(info.first(), "Server info settings:");
    EXPECT_EQ(info.last(), "no separator here");
}

TEST(ServerInfo, FirstLineWithTheKeyWins)
{
    const QStringList info = NormaliseServerInfo({"mapname: dm/mohdm1", "mapname: dm/mohdm2"});
    EXPECT_EQ(ServerInfoValue(info, "mapname"), "dm/mohdm1");
}

TEST(ShortMapName, StripsFolderPrefixesAndModeAffixes)
{
    EXPECT_EQ(ShortMapName("obj/obj_team2", NoAlias), "obj_team2");
    EXPECT_EQ(ShortMapName("dm/mohdm6", NoAlias), "mohdm6");
    EXPECT_EQ(ShortMapName("obj/MP_Bridge_TOW", NoAlias), "Bridge");
    EXPECT_EQ(ShortMapName("dm/mp_malta_dm", NoAlias), "malta");
    EXPECT_EQ(ShortMapName("lib/mp_ship_lib", NoAlias), "ship");
    EXPECT_EQ(ShortMapName("DMstalingrad", NoAlias), "stalingrad");
    EXPECT_EQ(ShortMapName("", NoAlias), "");
}

TEST(ShortMapName, AliasReplacesTheStrippedName)
{
    const auto alias = [](const QString& name) {
        return name.compare("MOHDM6", Qt::CaseInsensitive) == 0 ? QStringLiteral("Stalingrad") : name;
    };
    EXPECT_EQ(ShortMapName("dm/mohdm6", alias), "Stalingrad");
    EXPECT_EQ(ShortMapName("dm/mohdm7", alias), "mohdm7");
}

TEST(NextInMapList, RotationWrapsAndContinuesFromTheCut)
{
    QString list = "obj/obj_team1 obj/obj_team2 obj/obj_team4";
    EXPECT_EQ(NextInMapList(list, "obj/obj_team2"), "obj/obj_team4");
    list = "obj/obj_team1 obj/obj_team2 obj/obj_team4";
    EXPECT_EQ(NextInMapList(list, "OBJ/OBJ_TEAM4"), "obj/obj_team1");
    list = "obj/obj_team1 obj/obj_team2 obj/obj_team4";
    EXPECT_EQ(NextInMapList(list, "dm/mohdm1"), "obj/obj_team1");
    list = "a1 b2 c3";
    EXPECT_EQ(NextInMapList(list, "a1"), "b2");
    EXPECT_EQ(list, "b2 c3");
}

TEST(NextInMapList, OddListsGiveATextAndNeverFail)
{
    QString list = "x mapa mapb";
    EXPECT_EQ(NextInMapList(list, ""), "mapa");
    list = "mapa ";
    EXPECT_EQ(NextInMapList(list, "zzz"), "");
    for (const char* text : {"", " ", "  ", "a", "a ", " a", "a b"}) {
        QString l = QLatin1String(text);
        NextInMapList(l, QStringLiteral("a"));
        NextInMapList(l, QStringLiteral("a"));
    }
}

TEST(NextMapName, VstrRotationNamesTheMapUpToItsSemicolon)
{
    FakeVariables server;
    server.values = {{"nextmap", "VSTR m2"}, {"m2", "map obj/obj_team3; set nextmap vstr m3"}};
    EXPECT_EQ(NextMapName("obj/obj_team2", std::ref(server), NoAlias), "obj_team3");
    EXPECT_EQ(server.reads, (QStringList{"nextmap", "m2"}));

    server.values["m2"] = "map obj/obj_team3";
    EXPECT_EQ(NextMapName("obj/obj_team2", std::ref(server), NoAlias), "");
}

TEST(NextMapName, MapListRotationWithoutNextmap)
{
    FakeVariables server;
    server.values = {{"sv_maplist", "obj/obj_team1;obj/obj_team2;obj/obj_team4"}};
    EXPECT_EQ(NextMapName("obj/obj_team2", std::ref(server), NoAlias), "obj_team4");
    EXPECT_EQ(NextMapName("obj/obj_team4", std::ref(server), NoAlias), "obj_team1");
    EXPECT_EQ(NextMapName("dm/mohdm9", std::ref(server), NoAlias), "obj_team1");
    server.values["sv_maplist"] = "obj/obj_team2";
    EXPECT_EQ(NextMapName("obj/obj_team2", std::ref(server), NoAlias), "obj_team2");
    EXPECT_EQ(server.reads.count("nextmap"), 4);
}

TEST(NextMapName, NothingKnownGivesAnEmptyName)
{
    FakeVariables server;
    EXPECT_EQ(NextMapName("dm/mohdm1", std::ref(server), NoAlias), "");
}

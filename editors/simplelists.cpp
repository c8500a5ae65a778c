#include "editors/simplelists.h"

#include "store/datapalisor.h"

namespace palisor {

TformImmunePlayers::TformImmunePlayers(TDataPalisor& data, QWidget* parent)
    : ListWindow(data, *data.tblImmune,
                 {QStringLiteral("Immune Players: %d total"), QSize(318, 308), QStringLiteral("PlayerDataGrid"), true,
                  true, QStringLiteral("&Remove Player"), QStringLiteral("NAME")},
                 parent),
      PlayerDataGrid(grid())
{
}

TformIllegalNames::TformIllegalNames(TDataPalisor& data, QWidget* parent)
    : ListWindow(data, *data.tblIllegal,
                 {QStringLiteral("Illegal Names: %d total"), QSize(318, 308), QStringLiteral("PlayerDataGrid"), true,
                  true, QStringLiteral("&Remove Name"), QStringLiteral("NAME")},
                 parent),
      PlayerDataGrid(grid())
{
}

TformMapAlias::TformMapAlias(TDataPalisor& data, QWidget* parent)
    : ListWindow(data, *data.tblMapAlias,
                 {QStringLiteral("Map Aliases: %d total"), QSize(463, 308), QStringLiteral("AliasDataGrid"), true,
                  true, QStringLiteral("&Remove Alias"), QStringLiteral("ALIAS")},
                 parent),
      AliasDataGrid(grid())
{
}

}  // namespace palisor

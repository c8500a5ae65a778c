#pragma once

#include "editors/listwindow.h"

namespace palisor {

// The players who are never kicked (IMMUNE).
class TformImmunePlayers final : public ListWindow {
    Q_OBJECT
public:
    TformImmunePlayers(TDataPalisor& data, QWidget* parent = nullptr);
    TableGrid* PlayerDataGrid;
};

// The forbidden name fragments (ILLEGAL).
class TformIllegalNames final : public ListWindow {
    Q_OBJECT
public:
    TformIllegalNames(TDataPalisor& data, QWidget* parent = nullptr);
    TableGrid* PlayerDataGrid;
};

// The display names of maps (MAPALIAS).
class TformMapAlias final : public ListWindow {
    Q_OBJECT
public:
    TformMapAlias(TDataPalisor& data, QWidget* parent = nullptr);
    TableGrid* AliasDataGrid;
};

}  // namespace palisor

#include "store/datapalisor.h"

namespace palisor {

TDataPalisor* DataPalisor = nullptr;

}  // namespace palisor

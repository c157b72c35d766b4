#include "luster/luster.h"

void Luster::init() {}

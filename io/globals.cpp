#include "io/globals.hpp"

int ps = 0;
int ngene = 0;
int n = 0;

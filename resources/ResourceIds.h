// Resource ids shared by the resource scripts and the code.
#pragma once

#define PD_IDI_APP 1

// Resource identifiers of quillon_pc.exe.
#ifndef QUILLON_HOST_RESOURCES_RESOURCE_H_
#define QUILLON_HOST_RESOURCES_RESOURCE_H_

// The window class and the shell both take the executable's icon from here.
#define IDI_APP_ICON 101

#endif  // QUILLON_HOST_RESOURCES_RESOURCE_H_

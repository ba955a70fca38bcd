// An include the layering check must refuse: the Remote Registry's room reaching sideways into the
// directory's, whose connections share Samba's logons with it through the room below both.
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/samba/credential_registry.h"

/*
 * KOVA library: discovery and configuration of networked video devices over
 * UDP broadcast. This is the library's only public header; it is plain C.
 *
 * One connection per process. Requests are broadcast to 255.255.255.255 port
 * 32154 from local port 32153; replies are received on port 32153 by the
 * library's receive thread, stored in its item table and reported through the
 * reply callback. Every operation returns one of the KOVA_* error codes.
 */
#ifndef KOVA_H
#define KOVA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Ports and sizes of the protocol. */
#define KOVA_LOCAL_PORT 32153       /* the library's socket, where replies arrive */
#define KOVA_DEVICE_PORT 32154      /* where requests are broadcast to */
#define KOVA_MAX_DATAGRAM 278       /* the largest reply that is stored */
#define KOVA_RECEIVE_BUFFER 4194304 /* bytes of receive buffer a connection asks for */
/* ... and asks for when it may pass net.core.rmem_max (CAP_NET_ADMIN) */
#define KOVA_RECEIVE_BUFFER_PRIVILEGED (4 * KOVA_RECEIVE_BUFFER)

/* Error codes; kova_ErrorText gives their fixed texts. */
#define KOVA_OK 0                  /* "OK" */
#define KOVA_ERR_GENERAL 1         /* "General Error" */
#define KOVA_ERR_NOT_IMPLEMENTED 2 /* "This feature is not implemented" */
#define KOVA_ERR_NOT_INITIALISED 3 /* "kova_Initialise() has not been called" */
#define KOVA_ERR_INVALID_ARG 4     /* "One or more arguments are invalid" */
#define KOVA_ERR_NO_MEMORY 5       /* "Ran out of memory" */
#define KOVA_ERR_SOCKET 6          /* "Socket error" */
#define KOVA_ERR_BAD_CLASS_ID 7    /* "No such class id supported" */
#define KOVA_ERR_BAD_HANDLE 8      /* "HKOVAITEM handler is not correct" */

/* Events passed to the reply callback. */
#define KOVA_EVENT_DEVICE_INFO 0 /* reply kind 5: device information */
#define KOVA_EVENT_AUTH_FAILED 2 /* reply kind 2: credentials rejected */
#define KOVA_EVENT_SUCCESS 4     /* reply kind 0: configuration applied */
#define KOVA_EVENT_STATUS_1 6    /* reply kind 1: a further status */

/* Request commands (byte 7 of a request). */
#define KOVA_CMD_DISCOVER 3
#define KOVA_CMD_SET_CONFIG 4
#define KOVA_CMD_SET_ACCOUNT 5

/* Network modes of KOVA_NETWORK_SETTINGS (the wire swaps 0 and 1). */
#define KOVA_MODE_STATIC 0
#define KOVA_MODE_DHCP 1
#define KOVA_MODE_PPPOE 2

/* The only class id the library serves. */
#define KOVA_CLASS_ID 2

/* One stored device reply. The library owns every record; a handle stays valid
 * for the rest of the process, across kova_Close and re-initialisation. */
typedef struct KOVA_ITEM KOVA_ITEM;
typedef KOVA_ITEM *HKOVAITEM;

/* Called on the receive thread for every accepted reply; reserved is 0. */
typedef void (*KOVA_REPLY_CALLBACK)(HKOVAITEM item, int32_t event, int32_t reserved);
/* Called on the receive thread when the receive loop ends on an error. */
typedef void (*KOVA_ERROR_CALLBACK)(int32_t code, const char *text);

typedef struct KOVA_CONFIG {
    KOVA_REPLY_CALLBACK replyCallback; /* empty: replies are neither stored nor reported */
    KOVA_ERROR_CALLBACK errorCallback; /* empty: receive errors are not reported */
    int32_t classId;                   /* must be KOVA_CLASS_ID */
} KOVA_CONFIG;

typedef struct KOVA_VERSION {
    int32_t major;
    int32_t minor;
    int32_t release;
    int32_t build;
} KOVA_VERSION;

/* Text fields are zero-terminated when shorter than the field; serialNumber and
 * the PPPoE texts may fill their whole field without a terminator. */
typedef struct KOVA_DEVICE_INFO {
    uint8_t mac[6];     /* device key, reply bytes 9 to 14 */
    char ipAddress[16]; /* dotted source address of the device's latest reply */
    char modelName[64];
    char hostName[64];
    char domainName[64];
} KOVA_DEVICE_INFO;

typedef struct KOVA_NETWORK_SETTINGS {
    int32_t mode; /* KOVA_MODE_STATIC, KOVA_MODE_DHCP or KOVA_MODE_PPPOE */
    char ipAddress[16];
    char netMask[16];
    char gateway[16];
    char dnsServer[16];
    char pppoeUserName[16];
    char pppoePassword[32];
    char pppoeServiceName[32];
    int32_t mtu;
    uint8_t dnsMode; /* 0 automatic, 1 manual */
    char pppoeDnsServer[16];
} KOVA_NETWORK_SETTINGS;

typedef struct KOVA_SERVICE_PORTS {
    uint16_t av1Port;
    uint16_t webPort;
    uint16_t av2Port;
    uint16_t conf;
    uint8_t av1Protocol; /* 0 "N/A", 1 "vsm", 2 "rtp", 3 "3gpp" */
    uint8_t av2Protocol;
    uint8_t av1Flag; /* 0 "X", 1 "O" */
    uint8_t av2Flag;
} KOVA_SERVICE_PORTS;

typedef struct KOVA_FIRMWARE_INFO {
    uint8_t fwMajor;
    uint8_t fwMinor;
    uint8_t fwPatch;
    uint8_t fwReserved;
    char serialNumber[16];
} KOVA_FIRMWARE_INFO;

/* Connection. Without a bind address (kova_Initialise, or "" below) the
 * connection listens on every interface, and a discovery goes out once on each
 * IPv4 interface that is up and can broadcast (loopback aside), as they are at
 * initialisation; on a host without such an interface it goes where routing
 * sends it. */
int32_t kova_Initialise(const KOVA_CONFIG *config);
/* bindAddress: one of this host's IPv4 addresses (requests leave through the
 * interface that owns it, and every reply arriving there is received), or ""
 * for any local address; at most 16 characters. */
int32_t kova_InitialiseEx(const KOVA_CONFIG *config, const char *bindAddress);
/* Closes the socket and ends the receive loop promptly and silently. Safe from
 * any thread, including from inside the reply callback, and when nothing is open.
 * It never waits for a callback: one already running on the receive thread (or
 * one that the loop had decided on just before the close) may still run to its
 * end after this returns, and no further callback of the closed connection
 * starts. Clients that must not see late callbacks guard their own state. */
void kova_Close(void);
int32_t kova_SendDiscovery(void);
/* 1 selects version byte 2, 2 selects 3, 3 selects 4, anything else 5. */
int32_t kova_SetProtocolType(int32_t type);
KOVA_VERSION kova_GetVersion(void);

/* Replies lost since the process started, counted by every connection:
 * tableFull, those from new devices that found the item table full (65,536
 * devices); bufferFull, datagrams the system dropped because the socket's
 * receive buffer was full (0 where the system does not tell). A caller reads
 * them before and after a scan. Either output may be empty. */
int32_t kova_GetLostReplies(uint32_t *tableFull, uint32_t *bufferFull);

/* Fixed text of an error code; "General Error" for a code outside 0 to 8. */
const char *kova_ErrorText(int32_t code);

/* Decoders: handle first (empty: KOVA_ERR_BAD_HANDLE), output second (empty:
 * KOVA_ERR_INVALID_ARG). Each works on a private copy of the record. A handle the
 * library never issued is refused with KOVA_ERR_BAD_HANDLE. Only the bytes that
 * were received are decoded: a field that does not lie wholly inside them reads
 * as zero or empty, and a text longer than its field is cut to fit. */
int32_t kova_GetDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info);
int32_t kova_GetNetworkSettings(HKOVAITEM item, KOVA_NETWORK_SETTINGS *settings);
int32_t kova_GetGuestAccount(HKOVAITEM item, int32_t *guestAccount);
int32_t kova_GetItemFlag(HKOVAITEM item, int32_t *flag);
/* KOVA_ERR_NOT_IMPLEMENTED for a reply below version 3. */
int32_t kova_GetServicePorts(HKOVAITEM item, KOVA_SERVICE_PORTS *ports);
int32_t kova_GetFirmwareInfo(HKOVAITEM item, KOVA_FIRMWARE_INFO *firmware);
/* The version byte (offset 4) of the device's latest device-information reply. */
int32_t kova_GetReplyVersion(HKOVAITEM item, int32_t *version);

/* The name of the network interface on which the device's latest reply
 * arrived ("eth1"), zero-terminated in KOVA_INTERFACE_NAME_SIZE bytes; empty
 * when it is not known. Configuration requests to the device leave through
 * that interface. */
#define KOVA_INTERFACE_NAME_SIZE 16
int32_t kova_GetReplyInterface(HKOVAITEM item, char *name);

/* The host's IPv4 addresses, one entry per address, as a connection opened
 * now would see them. */
typedef struct KOVA_INTERFACE {
    char name[KOVA_INTERFACE_NAME_SIZE]; /* "eth0" */
    char address[16];                    /* dotted */
    char netMask[16];                    /* dotted */
    char broadcast[16];                  /* dotted; empty when the interface has none */
    uint32_t flags;                      /* the interface's IFF_* flags (net/if.h) */
    int32_t scanned; /* 1: a discovery without a bind address goes out of this interface */
} KOVA_INTERFACE;
/* Fills up to `capacity` entries and sets *count to the number of addresses
 * (which may exceed capacity). KOVA_ERR_INVALID_ARG for an empty count, or
 * empty list with a capacity above 0; KOVA_ERR_GENERAL when the host's
 * interfaces cannot be read. */
int32_t kova_GetInterfaces(KOVA_INTERFACE *list, int32_t capacity, int32_t *count);

/* Configuration requests, broadcast to the device that the item addresses;
 * without a bind address, out of the interface the device was last heard on
 * (kova_GetReplyInterface) only. Checks in order: no connection
 * KOVA_ERR_NOT_INITIALISED, empty or unknown handle KOVA_ERR_BAD_HANDLE, then
 * the arguments. A successful request starts the receive loop when none runs,
 * so the device's answer is reported. */
int32_t kova_SetNetworkSettings(HKOVAITEM item, const char *userId, const char *password,
                                const KOVA_NETWORK_SETTINGS *settings);
int32_t kova_SetHostName(HKOVAITEM item, const char *userId, const char *password,
                         const char *hostName, const char *domainName);
int32_t kova_SetAccount(HKOVAITEM item, const char *userId, const char *password,
                        const char *newPassword, const int32_t *guestAllowed);

#ifdef __cplusplus
}
#endif

#endif /* KOVA_H */

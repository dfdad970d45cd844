/*
 * state.cpp: the process-wide state declared in core.h.  Every variable
 * starts zero (or none) as the program starts; the operations of each
 * subsystem fill and use them.  Kept in one portable file so that the host
 * tests link the same definitions as the stub.
 */
#include "core.h"

/* Texts obtained at start-up, and the running executable's path. */
char *DescriptionText;
char *CustomCaption;
char *CommandText;
char *InfoSwitchText;
char *InfoText;
char *MessageBuffer;
char *StartupText;
char ModulePath[PATH_SIZE];

int AutoMode;
int WaitMode;

uint8_t *CatalogBuffer;

/* Archive input. */
uint8_t *InputBuffer;
uint8_t *InputCursor;
int32_t InputAvail;
int MemberEncrypted;
int MemberHasDescriptor;
int Spanned;
int VolumeExe;
uint16_t CurrentDisk;

LocalFileHeader LocalHeader;
char MemberName[NAME_SIZE];
char OutputName[NAME_SIZE];

uint8_t LocalSignature[4];
uint8_t DescriptorSignature[4];
uint8_t CentralSignature[4];
uint8_t EndSignature[4];
uint8_t MarkerSignature[4];

/* Output side. */
uint8_t *OutputBuffer;
uint8_t *OutputCursor;
uint8_t *OutputLimit;
int32_t OutputCount;
uint32_t BytesWritten;
uint32_t LastMeterMark;
int MeterShown;
int Extracting;

/* Decoder. */
uint8_t *InflateWindow;
int InflateToMemory;

char ExtractFolder[PATH_SIZE];

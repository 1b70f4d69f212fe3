{ tarvo.pas - Pascal declarations of TARVO, the fiscal printer (ECF)
  communications driver, for Free Pascal and Delphi.

  Library: tarvo.dll on Windows (stdcall, undecorated names), libtarvo.so
  elsewhere (cdecl). Each of the eleven driver calls is declared twice, under
  its plain name and with the prefix TARVO_; both reach the same code.

  Texts are zero-terminated 8-bit strings in the Windows ANSI code page
  (cp1252). Output buffers belong to the caller, and their size is not
  passed: give ObtemNomeErro TARVO_ERROR_NAME_SIZE bytes, ObtemCircunstancia
  TARVO_CIRCUMSTANCE_SIZE, Retorno TARVO_VALUE_SIZE and FC_Operacao
  TARVO_FC_TEXT_SIZE.

  The library keeps one process-wide session and takes no lock: use it from
  one thread at a time.

  The record layouts (TFcParam 528 bytes, TFcCommand 9060 bytes) are the
  library's binary interface; the unit's initialization checks them and
  stops the program with an exception if a compiler laid them out otherwise. }
unit tarvo;

{$IFDEF FPC}
  {$MODE DELPHI}
{$ENDIF}

interface

const
{$IFDEF MSWINDOWS}
  TarvoLibrary = 'tarvo.dll';
{$ELSE}
  TarvoLibrary = 'libtarvo.so';
{$ENDIF}

  { Result codes }
  TARVO_OK_HANDLE = 1;          { IniciaDriver: the session handle }
  TARVO_ANSWERED = 1;           { ExecutaComando: a valid answer came back }
  TARVO_OK = 0;                 { EncerraDriver and the FC_ calls succeeded }
  TARVO_BUSY = 0;               { ExecutaComando: another one is running }
  TARVO_EXCHANGE_FAILED = -1;   { ExecutaComando: no valid answer }
  TARVO_BAD_CHANNEL = -11;      { bad port name, or the port can't be opened }
  TARVO_BAD_HANDLE = -14;       { not the open session's handle }
  TARVO_VALUE_UNREADABLE = -15; { FC_Operacao: a value could not be read }
  TARVO_TOO_LONG = -20;         { a text is longer than its bound }
  TARVO_NULL_ARGUMENT = -21;    { a required pointer is nil }
  TARVO_REFUSED_BUSY = -22;     { FC_Operacao: another thread's command runs }
  TARVO_PROTOCOL_FAILURE = 11010; { no valid answer ("ErroProtTimeout") }

  { Bounds a host must respect }
  TARVO_ERROR_NAME_SIZE = 101;
  TARVO_CIRCUMSTANCE_SIZE = 203;
  TARVO_VALUE_SIZE = 4096;
  TARVO_FC_TEXT_SIZE = 4096;
  TARVO_MAX_COMMAND = 59;
  TARVO_MAX_PARAMS = 511;
  TARVO_MAX_PORT_NAME = 39;

  { Type codes of AdicionaParam and TFcParam.ParamType: 2 and 3 write
    Nome=#Valor#, 7 writes Nome="Valor", any other code Nome=Valor. }
  TARVO_TYPE_PLAIN = 0;
  TARVO_TYPE_DATE = 2;
  TARVO_TYPE_TIME = 3;
  TARVO_TYPE_QUOTED = 7;

  TARVO_FC_PARAM_COUNT = 17;

type
  { One parameter entry: 528 bytes, no gaps. }
  TFcParam = packed record
    Name: array[0..29] of AnsiChar;   { at most 29 characters }
    Value: array[0..493] of AnsiChar; { at most 493 characters }
    ParamType: LongInt;               { type code, as for AdicionaParam }
  end;
  PFcParam = ^TFcParam;

  { One facade operation: 9060 bytes, no gaps. FC_Operacao clears Command,
    ReturnNames and TimeoutMs afterwards; the parameter entries stay. }
  TFcCommand = packed record
    Command: array[0..29] of AnsiChar;     { at most 29 characters }
    ReturnNames: array[0..49] of AnsiChar; { names separated by single blanks }
    TimeoutMs: LongInt;                    { below 5000 acts as 5000 }
    Params: array[0..TARVO_FC_PARAM_COUNT - 1] of TFcParam;
  end;
  PFcCommand = ^TFcCommand;

{ ---- Driver calls: session ---- }

{ 1 (the handle) or -11. PortaSerial: 'COMn' or a device path with '/dev/'. }
function IniciaDriver(PortaSerial: PAnsiChar): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_IniciaDriver(PortaSerial: PAnsiChar): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ 0, or -14 for a wrong handle. }
function EncerraDriver(Handle: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_EncerraDriver(Handle: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ Per-byte answer time-out in ms; values below 5000 give 5000. }
procedure DefineTimeout(Handle: LongInt; iTimeout: LongInt);
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
procedure TARVO_DefineTimeout(Handle: LongInt; iTimeout: LongInt);
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ Dispatches one waiting window message (always 0 on Linux). }
function DoMessage: LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_DoMessage: LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ ---- Driver calls: one command ---- }

function LimpaParams(Handle: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_LimpaParams(Handle: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ 0 after appending; -14, -21 (nil text), -20 (over 511 characters). }
function AdicionaParam(Handle: LongInt; Nome, Valor: PAnsiChar; Tipo: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_AdicionaParam(Handle: LongInt; Nome, Valor: PAnsiChar; Tipo: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ 1 answered (read ObtemCodErro), -1 exchange failed (code 11010), 0 busy,
  -14, -20, -21. An empty Comando resends the last command. }
function ExecutaComando(Handle: LongInt; Comando: PAnsiChar): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_ExecutaComando(Handle: LongInt; Comando: PAnsiChar): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

function ObtemCodErro(Handle: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_ObtemCodErro(Handle: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ Saida: TARVO_ERROR_NAME_SIZE bytes. Tamanho is not read. }
function ObtemNomeErro(Handle: LongInt; Saida: PAnsiChar; Tamanho: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_ObtemNomeErro(Handle: LongInt; Saida: PAnsiChar; Tamanho: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ Saida: TARVO_CIRCUMSTANCE_SIZE bytes. Tamanho is not read. }
function ObtemCircunstancia(Handle: LongInt; Saida: PAnsiChar; Tamanho: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_ObtemCircunstancia(Handle: LongInt; Saida: PAnsiChar; Tamanho: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ The value Nome of the last answer into Saida (TARVO_VALUE_SIZE bytes):
  its length; 0 when not found; the last error code when it was not 0. }
function Retorno(Handle, Reservado1: LongInt; Nome: PAnsiChar; Reservado2: LongInt;
  Saida: PAnsiChar; Reservado3: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;
function TARVO_Retorno(Handle, Reservado1: LongInt; Nome: PAnsiChar; Reservado2: LongInt;
  Saida: PAnsiChar; Reservado3: LongInt): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ ---- Fiscal facade ---- }

{ Runs Cmd with its first NumParam entries (never more than 17); the values
  named in ReturnNames come back in OutText (TARVO_FC_TEXT_SIZE bytes), each
  in double quotes, one blank apart, with their length in OutLen.
  0, the printer's error code, 11010, -14, -15, -20, -21 or -22 (another
  thread's command was running; nothing was sent). }
function FC_Operacao(NumParam: LongInt; Cmd: PFcCommand; OutLen: PLongInt;
  OutText: PAnsiChar): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ Opens the facade's session and identifies the printer: 0, -11, or the
  identifying command's error code. }
function FC_Inicializa(Porta: PAnsiChar): LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ 0, or -14 when no facade session is open. }
function FC_Finaliza: LongInt;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external TarvoLibrary;

{ ---- Helpers for TFcCommand (no library call) ---- }

{ Clears Cmd and sets its command, the names of the values wanted and the
  time-out. False (Cmd cleared) when a text does not fit its field. }
function FcCommandInit(var Cmd: TFcCommand; const Command, ReturnNames: AnsiString;
  TimeoutMs: LongInt = 0): Boolean;

{ Fills entry Count of Cmd and increments Count. False, with nothing
  changed, when the record is full or a text does not fit its field. }
function FcAddParam(var Cmd: TFcCommand; var Count: LongInt; const Name, Value: AnsiString;
  ParamType: LongInt): Boolean;

implementation

uses
  SysUtils;

{ Copies S with its terminator into Dest; False, Dest untouched, when S
  (with the terminator) does not fit or holds a zero byte. }
function CopyField(var Dest: array of AnsiChar; const S: AnsiString): Boolean;
var
  I: Integer;
begin
  Result := False;
  if Length(S) >= Length(Dest) then
    Exit;
  for I := 1 to Length(S) do
    if S[I] = #0 then
      Exit;
  for I := 1 to Length(S) do
    Dest[I - 1] := S[I];
  Dest[Length(S)] := #0;
  Result := True;
end;

function FcCommandInit(var Cmd: TFcCommand; const Command, ReturnNames: AnsiString;
  TimeoutMs: LongInt): Boolean;
begin
  FillChar(Cmd, SizeOf(Cmd), 0);
  Result := CopyField(Cmd.Command, Command) and CopyField(Cmd.ReturnNames, ReturnNames);
  if Result then
    Cmd.TimeoutMs := TimeoutMs
  else
    FillChar(Cmd, SizeOf(Cmd), 0);
end;

function FcAddParam(var Cmd: TFcCommand; var Count: LongInt; const Name, Value: AnsiString;
  ParamType: LongInt): Boolean;
var
  Entry: TFcParam;
begin
  Result := False;
  if (Count < 0) or (Count >= TARVO_FC_PARAM_COUNT) then
    Exit;
  FillChar(Entry, SizeOf(Entry), 0);
  if not (CopyField(Entry.Name, Name) and CopyField(Entry.Value, Value)) then
    Exit;
  Entry.ParamType := ParamType;
  Cmd.Params[Count] := Entry;
  Inc(Count);
  Result := True;
end;

procedure CheckLayout;
var
  Cmd: TFcCommand;
  Base: PAnsiChar;

  procedure Expect(const What: string; Got, Want: NativeInt);
  begin
    if Got <> Want then
      raise Exception.CreateFmt('tarvo: %s is at %d, the library expects %d', [What, Got, Want]);
  end;

begin
  Base := PAnsiChar(@Cmd);
  Expect('SizeOf(TFcParam)', SizeOf(TFcParam), 528);
  Expect('SizeOf(TFcCommand)', SizeOf(TFcCommand), 9060);
  Expect('TFcCommand.ReturnNames', PAnsiChar(@Cmd.ReturnNames) - Base, 30);
  Expect('TFcCommand.TimeoutMs', PAnsiChar(@Cmd.TimeoutMs) - Base, 80);
  Expect('TFcCommand.Params', PAnsiChar(@Cmd.Params[0]) - Base, 84);
  Expect('TFcParam.Value', PAnsiChar(@Cmd.Params[1].Value) - Base, 84 + 528 + 30);
  Expect('TFcParam.ParamType', PAnsiChar(@Cmd.Params[1].ParamType) - Base, 84 + 528 + 524);
end;

initialization
  CheckLayout;
end.

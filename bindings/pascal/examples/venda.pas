{ venda.pas - a whole sale through the fiscal facade: open a receipt, sell
  two items, pay in cash, close the receipt.

    venda PORT        (for example: venda COM1, venda /dev/ttyUSB0)

  Prints one line per operation with the values the printer gave back, and
  ends with exit code 0; on any failure it prints the error and ends with 1
  (after cancelling the receipt if one was left open). }
program venda;

{$IFDEF FPC}
  {$MODE DELPHI}
{$ENDIF}
{$IFDEF MSWINDOWS}
  {$APPTYPE CONSOLE}
{$ENDIF}

uses
  SysUtils, tarvo;

var
  Cmd: TFcCommand;
  Count: LongInt;
  ReceiptOpen: Boolean = False;

procedure Fail(const Msg: string);
var
  Name: array[0..TARVO_ERROR_NAME_SIZE - 1] of AnsiChar;
  Circumstance: array[0..TARVO_CIRCUMSTANCE_SIZE - 1] of AnsiChar;
begin
  Name[0] := #0;
  Circumstance[0] := #0;
  { The facade's session is the driver's, whose handle is 1. }
  ObtemNomeErro(TARVO_OK_HANDLE, Name, 0);
  ObtemCircunstancia(TARVO_OK_HANDLE, Circumstance, 0);
  WriteLn(Msg, ' ', Name, ': ', Circumstance);
  if ReceiptOpen then
  begin
    FcCommandInit(Cmd, 'CancelaCupom', '');
    FC_Operacao(0, @Cmd, nil, nil);
  end;
  FC_Finaliza;
  Halt(1);
end;

{ Runs Cmd with its Count parameters and prints "Label: values". }
procedure Run(const Label_: string);
var
  Text: array[0..TARVO_FC_TEXT_SIZE - 1] of AnsiChar;
  Len, Code: LongInt;
begin
  Text[0] := #0;
  Code := FC_Operacao(Count, @Cmd, @Len, Text);
  if Code <> TARVO_OK then
    Fail(Format('%s: error %d', [Label_, Code]));
  WriteLn(Label_, ': ', Text);
end;

procedure Prepare(const Command, ReturnNames: AnsiString);
begin
  Count := 0;
  if not FcCommandInit(Cmd, Command, ReturnNames) then
    Fail('record: ' + Command);
end;

procedure Param(const Name, Value: AnsiString; ParamType: LongInt);
begin
  if not FcAddParam(Cmd, Count, Name, Value, ParamType) then
    Fail('record: parameter ' + Name);
end;

var
  Port: AnsiString;
  Code: LongInt;
begin
  if ParamCount <> 1 then
  begin
    WriteLn('usage: venda PORT');
    Halt(2);
  end;
  Port := ParamStr(1);

  Code := FC_Inicializa(PAnsiChar(Port));
  if Code <> TARVO_OK then
  begin
    WriteLn('FC_Inicializa(', Port, '): error ', Code);
    Halt(1);
  end;

  Prepare('LeTexto', 'ValorTexto');
  Param('NomeTexto', 'NumeroSerieECF', TARVO_TYPE_QUOTED);
  Run('Printer');

  Prepare('AbreCupom', 'COO');
  Run('Receipt');
  ReceiptOpen := True;

  { Texts go to the printer in cp1252: #231 is c-cedilla, #227 a-tilde. }
  Prepare('VendeItem', 'NumeroItem TotalCupom');
  Param('CodigoProduto', '7891000100103', TARVO_TYPE_QUOTED);
  Param('Descricao', 'Ma'#231#227' gala', TARVO_TYPE_QUOTED);
  Param('PrecoUnitario', '3,25', TARVO_TYPE_PLAIN);
  Param('Quantidade', '2', TARVO_TYPE_PLAIN);
  Run('Item');

  Prepare('VendeItem', 'NumeroItem TotalCupom');
  Param('Descricao', 'Cafe 500g', TARVO_TYPE_QUOTED);
  Param('PrecoUnitario', '12,90', TARVO_TYPE_PLAIN);
  Run('Item');

  Prepare('PagaCupom', 'Restante Troco');
  Param('MeioPagamento', 'Dinheiro', TARVO_TYPE_QUOTED);
  Param('Valor', '20,00', TARVO_TYPE_PLAIN);
  Run('Payment');

  Prepare('EncerraCupom', 'COO TotalCupom');
  Param('Mensagem', 'Obrigado, volte sempre', TARVO_TYPE_QUOTED);
  Run('Closed');
  ReceiptOpen := False;

  Code := FC_Finaliza;
  if Code <> TARVO_OK then
  begin
    WriteLn('FC_Finaliza: error ', Code);
    Halt(1);
  end;
end.

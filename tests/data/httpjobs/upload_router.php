<?php
// Router for php's built-in server in the HTTP upload tests: records every
// multipart upload as parsed by php (field, file name, type, size, the
// request's Content-Type) and its bytes under the document root, and answers
// with one summary line per file. "?status=N" picks the response code.
$root = $_SERVER['DOCUMENT_ROOT'];
$status = isset($_GET['status']) ? intval($_GET['status']) : 200;
if ($_SERVER['REQUEST_METHOD'] !== 'POST') {
    http_response_code($status);
    echo "hello\n";
    return true;
}
$answer = '';
foreach ($_FILES as $field => $file) {
    $n = count(glob("$root/upload-*.txt")) + 1;
    $record = "field=$field\nname={$file['name']}\ntype={$file['type']}\nsize={$file['size']}\n"
            . "error={$file['error']}\ncontent-type={$_SERVER['CONTENT_TYPE']}\n";
    file_put_contents("$root/upload-$n.txt", $record);
    if ($file['error'] === UPLOAD_ERR_OK) {
        copy($file['tmp_name'], "$root/upload-$n.data");
    }
    $answer .= "got $field {$file['name']} {$file['size']}\r\n";
}
http_response_code($status);
header('Content-Type: text/plain');
echo $answer;
return true;
